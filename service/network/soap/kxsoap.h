// Every SOAP message of the service in one stub set (namespace KxApiSoap).
#import "kxdisc.h"
#import "kxinp.h"
