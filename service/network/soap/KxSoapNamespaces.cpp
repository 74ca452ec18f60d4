// The SOAP namespace table of the whole program (the SOAP engine looks it up globally).
#include "envH.h"

SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://www.w3.org/2003/05/soap-envelope", "http://schemas.xmlsoap.org/soap/envelope/", nullptr},
    {"SOAP-ENC", "http://www.w3.org/2003/05/soap-encoding", "http://schemas.xmlsoap.org/soap/encoding/", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"wsa", "http://schemas.xmlsoap.org/ws/2004/08/addressing", "http://www.w3.org/2005/08/addressing", nullptr},
    {"wsd", "http://schemas.xmlsoap.org/ws/2005/04/discovery", nullptr, nullptr},
    {"Kxapi", "urn:korvix:kxapi:2010", nullptr, nullptr},
    {"KxInp", "urn:korvix:kxinp:2010", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};
