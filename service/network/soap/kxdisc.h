// The WS-Discovery 2005/04 subset used to find the network devices: Probe out,
// ProbeMatches back with the devices' "Kxapi:DeviceInfoShort" extension.
#import "wsa.h"

//gsoap wsd schema namespace: http://schemas.xmlsoap.org/ws/2005/04/discovery
//gsoap wsd schema elementForm: qualified
//gsoap wsd schema attributeForm: unqualified

//gsoap Kxapi schema namespace: urn:korvix:kxapi:2010
//gsoap Kxapi schema elementForm: qualified
//gsoap Kxapi schema attributeForm: unqualified

typedef _QName wsd__QNameListType;
typedef char* wsd__UriListType;

struct wsd__ScopesType {
    char* __item;
    @char* MatchBy 0;
};

struct wsd__ProbeType {
    wsd__QNameListType Types 0;
    struct wsd__ScopesType* Scopes 0;
};

struct Kxapi__KxeDeviceInfoShort {
    LONG64 Serial 1;
    int TypeNumber 1;
    int FirmwareVersion 1;
    int FirmwareVariant 1;
    int Ip 1;
    LONG64 Mac 1;
    int OpMode 1;
    int Port 1;
};

struct wsd__ProbeMatchType {
    struct wsa__EndpointReferenceType wsa__EndpointReference 1;
    wsd__QNameListType Types 0;
    struct wsd__ScopesType* Scopes 0;
    wsd__UriListType XAddrs 0;
    unsigned int MetadataVersion 1;
    struct Kxapi__KxeDeviceInfoShort* Kxapi__DeviceInfoShort 0;
};

struct wsd__ProbeMatchesType {
    $int __sizeProbeMatch 0;
    struct wsd__ProbeMatchType* ProbeMatch 0;
};

//gsoap wsd service name: Discovery
//gsoap wsd service method-action: Probe http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe
//gsoap wsd service method-action: ProbeMatches http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches
int __wsd__Probe(struct wsd__ProbeType* wsd__Probe, void);
int __wsd__ProbeMatches(struct wsd__ProbeMatchesType* wsd__ProbeMatches, void);
