// The main window's archive work: backup, archive comment, the restore list and the restore.
#include "app/lib/FormTorvo.h"

#include "readers/view/plxZipView.h"

using namespace vcl;

bool TFormTorvo::BackupToDisk()
{
    NotThereYet("BackupToDisk");
    return false;
}

void TFormTorvo::WriteArchiveComment(const std::string&) {}
void TFormTorvo::ListTargetArchives() { NotThereYet("ListTargetArchives"); }
void TFormTorvo::PackPayslips() { NotThereYet("PackPayslips"); }
bool TFormTorvo::RestoreArchive(const std::string&)
{
    NotThereYet("RestoreArchive");
    return false;
}
bool TFormTorvo::RestoreFromTarget(const std::string& name) { return RestoreArchive(name); }
