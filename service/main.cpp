// KxapiService: the receiver-card service daemon. Its only argument is an optional PID-file path.
#include "ServiceMain.h"

int main(int argc, char** argv)
{
    ServiceStartOptions options;
    options.m_pPidFile = argc > 1 ? argv[1] : nullptr;
    return ServiceMain(argv[0], options);
}
