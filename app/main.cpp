// lumivex: the reference application of the integrations library.
#include "LumivexApp.h"

int main(int argc, char *argv[])
{
    return LumivexApp::run(argc, argv);
}
