// The WS-Discovery 2005/04 subset used to find the network devices: Probe out,
// ProbeMatches back with the devices' "Kxapi:DeviceInfoShort" extension.
#import "wsa.h"

//gsoap wsdd schema namespace: http://schemas.xmlsoap.org/ws/2005/04/discovery
//gsoap wsdd schema elementForm: qualified
//gsoap wsdd schema attributeForm: unqualified

//gsoap Kxapi schema namespace: urn:korvix:kxapi:2010
//gsoap Kxapi schema elementForm: qualified
//gsoap Kxapi schema attributeForm: unqualified

typedef _QName wsdd__QNameListType;
typedef char* wsdd__UriListType;

struct wsdd__ScopesType {
    char* __item;
    @char* MatchBy 0;
};

struct wsdd__ProbeType {
    wsdd__QNameListType Types 0;
    struct wsdd__ScopesType* Scopes 0;
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

struct wsdd__ProbeMatchType {
    struct wsa__EndpointReferenceType wsa__EndpointReference 1;
    wsdd__QNameListType Types 0;
    struct wsdd__ScopesType* Scopes 0;
    wsdd__UriListType XAddrs 0;
    unsigned int MetadataVersion 1;
    struct Kxapi__KxeDeviceInfoShort* Kxapi__DeviceInfoShort 0;
};

struct wsdd__ProbeMatchesType {
    $int __sizeProbeMatch 0;
    struct wsdd__ProbeMatchType* ProbeMatch 0;
};

//gsoap wsdd service name: Discovery
//gsoap wsdd service method-action: Probe http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe
//gsoap wsdd service method-action: ProbeMatches http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches
int __wsdd__Probe(struct wsdd__ProbeType* wsdd__Probe, void);
int __wsdd__ProbeMatches(struct wsdd__ProbeMatchesType* wsdd__ProbeMatches, void);
