// The application object: runs the main dialog modally, and the program
// ends when the dialog has ended.
#pragma once

class CQuirnelApp {
public:
    // Runs the main dialog and destroys it (releasing the session) when it
    // returns. Returns false always: the program has no message loop of its own.
    bool InitInstance();
};

extern CQuirnelApp theApp;
