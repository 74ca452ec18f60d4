// The input-channel service of the network devices (HTTP, port 8000).

//gsoap KxInp service name: InputChannel
//gsoap KxInp service style: document
//gsoap KxInp service encoding: literal
//gsoap KxInp service namespace: urn:korvix:kxinp:2010
//gsoap KxInp schema namespace: urn:korvix:kxinp:2010

struct KxInp__AttachResponse {
    int KxapiResult;
    int ChannelId;
};

int KxInp__Attach(int PortIdx, bool ProbeOnly, struct KxInp__AttachResponse& result);
int KxInp__Detach(int ChannelId, int& KxapiResult);
