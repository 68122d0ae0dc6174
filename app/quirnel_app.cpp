// The one application object.
#include "quirnel_app.h"

#include "quirnel_dlg.h"

CQuirnelApp theApp;

bool CQuirnelApp::InitInstance() {
    {
        CQuirnelDlg dlg;
        dlg.DoModal();
    }
    return false;
}
