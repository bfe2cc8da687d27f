#include "platform/qt/winapp.h"
#include "transfer_app.h"

// The one application object, as the framework expects.
CTransferApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
