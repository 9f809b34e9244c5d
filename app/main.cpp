// The program's start: one copy serves the requests of the maker's programs (or one user).
#include "app/lib/AppDialogs.h"
#include "app/lib/EngineHooks.h"
#include "app/lib/FormTorvo.h"
#include "platform/vcl/Headless.h"
#include "platform/win/IpcRuntime.h"
#include "platform/win/TempFiles.h"
#include "unit/U_OneInst.h"

#ifdef TORVO_HAVE_QT
#include "platform/qt/QtDisplayProbe.h"
#include "platform/qt/QtWidgetSet.h"

// Fontconfig keeps its caches until exit, and on a desktop session Qt's D-Bus connection keeps a
// buffer of libdbus; sanitizer builds need not report them.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus-1\n";
}
#endif

#include <cstdio>

using namespace vcl;

int main()
{
    // Callers and a second copy find the window only through this folder: without it the
    // program would wait where nobody can reach it.
    if (const std::string problem = win::ipc::RuntimeFolderProblem(); !problem.empty()) {
        std::fprintf(stderr, "torvo: callers cannot reach this program: %s\n", problem.c_str());
        return 1;
    }
    SetInstanceClassName("TFormTorvo");
    CheckSingleInstance();
    // What killed runs left behind goes now, not when the same kind of work comes again.
    win::RemoveDeadOwnersLeftovers();

    Application->Initialize();
#ifdef TORVO_HAVE_QT
    ChooseWidgetSet([]() -> std::unique_ptr<TWidgetSet> {
        return torvoqt::DisplayUsable() ? torvoqt::CreateQtWidgetSet() : nullptr;
    });
#else
    ChooseWidgetSet(nullptr);
#endif
    InstallEngineHooks();

    TFormTorvo* FormTorvo = nullptr;
    TfrmAddFiles* frmAddFiles = nullptr;
    TfrmExtract* frmExtract = nullptr;
    TfrmUUEncode* frmUUEncode = nullptr;
    TfrmRunFile* frmRunFile = nullptr;
    TfrmTestArchive* frmTestArchive = nullptr;
    TfrmEditComments* frmEditComments = nullptr;
    TfrmInput* frmInput = nullptr;
    TfrmComment* frmComment = nullptr;
    TfrmPassword1* frmPassword1 = nullptr;
    TfrmPassword2* frmPassword2 = nullptr;
    TfrmSeedKeys* frmSeedKeys = nullptr;
    TfrmErrorMsgs* frmErrorMsgs = nullptr;
    TfrmSplitArchive* frmSplitArchive = nullptr;
    Application->CreateForm(FormTorvo);
    Application->CreateForm(frmAddFiles);
    Application->CreateForm(frmExtract);
    Application->CreateForm(frmUUEncode);
    Application->CreateForm(frmRunFile);
    Application->CreateForm(frmTestArchive);
    Application->CreateForm(frmEditComments);
    Application->CreateForm(frmInput);
    Application->CreateForm(frmComment);
    Application->CreateForm(frmPassword1);
    Application->CreateForm(frmPassword2);
    Application->CreateForm(frmSeedKeys);
    Application->CreateForm(frmErrorMsgs);
    Application->CreateForm(frmSplitArchive);

    if (THeadlessWidgetSet* headless = HeadlessWidgetSet()) {
        headless->SetEcho(true);
        std::fputs("torvo: no window on screen; waiting headless for requests\n", stderr);
    }
    Application->Run();
    return 0;
}
