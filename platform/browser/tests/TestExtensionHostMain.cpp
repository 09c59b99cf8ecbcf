// The browser's tests run extensions through this host: the host program's body with nothing
// around it, so that the browser's tests need no program of the app.

#include "platform/browser/ExtensionHost.h"

int main(int argc, char** argv) { return browser::runExtensionHostProgram(argc, argv); }
