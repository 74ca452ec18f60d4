// SOAP Header and Fault shared by every stub set of the service (global namespace).
#import "wsa.h"

//gsoap wsdd schema namespace: http://schemas.xmlsoap.org/ws/2005/04/discovery
//gsoap wsdd schema elementForm: qualified
//gsoap wsdd schema attributeForm: unqualified

struct wsdd__AppSequenceType {
    @unsigned int InstanceId 1;
    @char* SequenceId 0;
    @unsigned int MessageNumber 1;
};

mutable struct SOAP_ENV__Header {
    struct wsdd__AppSequenceType* wsdd__AppSequence 0;
};
