#include "app/VexlorApp.h"
#include "res/resource.h"

// The one application object. It lives here, in the executable itself, so that the linker always
// keeps it.
CVexlorApp theApp;

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv, BrevonixResources());
}
