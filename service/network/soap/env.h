// SOAP Header and Fault shared by every stub set of the service (global namespace).
#import "wsa.h"

//gsoap wsd schema namespace: http://schemas.xmlsoap.org/ws/2005/04/discovery
//gsoap wsd schema elementForm: qualified
//gsoap wsd schema attributeForm: unqualified

struct wsd__AppSequenceType {
    @unsigned int InstanceId 1;
    @char* SequenceId 0;
    @unsigned int MessageNumber 1;
};

mutable struct SOAP_ENV__Header {
    struct wsd__AppSequenceType* wsd__AppSequence 0;
};
