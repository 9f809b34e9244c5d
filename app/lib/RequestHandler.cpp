#include "app/lib/RequestHandler.h"

namespace {

constexpr std::uint32_t CommandNetworkTargets = 2;
constexpr std::uint32_t CommandPayslips = 50;
constexpr std::uint32_t CommandKeepReplyWindow = 100;
constexpr std::uint32_t CommandFetched1 = 101;
constexpr std::uint32_t CommandFetched2 = 102;
constexpr std::uint32_t CommandFinish = 999;

bool IsFetchedCommand(std::uint32_t command)
{
    return command == CommandFetched1 || command == CommandFetched2;
}

bool ClosesByItself(std::int32_t mode)
{
    return (mode >= 10 && mode <= 14) || (mode >= 20 && mode <= 29);
}

}  // namespace

TRequestOutcome TRequestHandler::WMCopyData(std::uint32_t command, const COPYDATASTRUCT* data)
{
    if (data == nullptr)
        return TRequestOutcome::Malformed;
    return Handle(command, data->lpData, data->cbData);
}

TRequestOutcome TRequestHandler::Handle(std::uint32_t command, const void* bytes, std::size_t size)
{
    // A message outside the protocol must not even wake a deferred run.
    std::optional<TRequestRecord> record = DecodeRequestRecord(bytes, size);
    if (!record)
        return TRequestOutcome::Malformed;

    // Once the caller has its reply, nothing may start again before the loop ends.
    if (state_.Finished)
        return TRequestOutcome::Ignored;
    if (state_.DeferredDispatchPending) {
        state_.DeferredDispatchPending = false;
        host_.DispatchRequest();
        if (state_.Finished)
            return TRequestOutcome::Dispatched;
    }
    // A deferred run still has to hear the internet program's answer and the caller's finish.
    if (state_.IgnoreFurtherRequests && !IsFetchedCommand(command) && command != CommandFinish)
        return TRequestOutcome::Ignored;

    host_.ClearFtpEntries();
    state_.FtpEntry = false;
    state_.HasNetworkText = false;
    state_.Network = TNetworkTargets{};

    switch (command) {
    case CommandNetworkTargets:
        state_.FtpEntry = record->FtpEntry != 0;
        state_.Network = ParseNetworkTargets(record->NetworkTargets);
        break;
    case CommandPayslips:
        // The payslip work replies by itself, so it must know whom to answer and for which mode.
        state_.ReplyWindow = record->ReplyWindow;
        state_.Mode = record->Mode;
        state_.PayslipRequest = true;
        host_.ParseRequestOptions(record->DefinitionFileName + " " + record->DataFolder);
        state_.PayslipGroupSize = 50;
        host_.StartPayslips();
        if (state_.Finished)
            return TRequestOutcome::Finished;
        break;
    case CommandFetched1:
    case CommandFetched2:
        return HandleFetchedArchive(command, *record);
    case CommandFinish:
        host_.FinishRequest();
        return TRequestOutcome::Finished;
    default:
        break;
    }
    return CommonPath(command, *record);
}

TRequestOutcome TRequestHandler::HandleFetchedArchive(std::uint32_t command, TRequestRecord& record)
{
    record.ModeValue = command;
    const std::string& name = record.DefinitionFileName;
    const std::string& folder = record.DataFolder;
    if (!name.empty() && !folder.empty() && !host_.FileExists(folder + name))
        return TRequestOutcome::FetchedFileMissing;
    state_.ArchiveFolder = folder;
    state_.ArchiveName = name;
    state_.TargetFolder = folder;
    // A fetched archive that could not be restored stays, so that nothing is lost.
    if (host_.RestoreArchive(name) && host_.FileExists(state_.TargetFolder + name))
        host_.DeleteFile(state_.TargetFolder + name);
    host_.FinishRequest();
    return TRequestOutcome::Restored;
}

void TRequestHandler::TakeOverModeValue(const TRequestRecord& record)
{
    const TModeValueFlags flags = FlagsForModeValue(record.ModeValue);
    state_.ModeValue = record.ModeValue;
    state_.BackupSide = flags.BackupSide;
    state_.Automatic = flags.Automatic;
    state_.Ftp = flags.Ftp;
    if (flags.Ftp)
        state_.FtpTarget = true;
}

TRequestOutcome TRequestHandler::CommonPath(std::uint32_t command, const TRequestRecord& record)
{
    state_.HasNetworkText = !state_.Network.Text.empty();
    host_.MinimiseApplication(record.Minimise != 0);
    if (command != CommandKeepReplyWindow && !IsFetchedCommand(command))
        state_.ReplyWindow = record.ReplyWindow;
    host_.CloseMenuForm();

    if (record.DefinitionFileName.empty() || record.DataFolder.empty() ||
        !host_.FileExists(record.DataFolder + record.DefinitionFileName))
        return TRequestOutcome::Invalid;

    state_.DataFolder = record.DataFolder;
    state_.DefinitionFileName = record.DefinitionFileName;
    state_.Mode = record.Mode;
    TakeOverModeValue(record);
    const TModeValueFlags flags = FlagsForModeValue(record.ModeValue);

    if (!state_.Automatic && record.Minimise == 0)
        host_.ForceForeground(record.ForegroundWindow);
    if (state_.Automatic)
        host_.ColourForAutomaticRun();
    host_.ShowControlsForMode(state_.Mode);

    if (state_.PayslipRequest && !host_.ReadDefinitionFile())
        return TRequestOutcome::Invalid;
    if (flags.ReadDefinitionFile) {
        if (!host_.ReadDefinitionFile())
            return TRequestOutcome::Invalid;
        host_.SetModeCaption(true);
        const std::optional<int> n = ModeValueNumber(record.ModeValue);
        state_.MenuSection = n ? host_.FindMenuReturnValue("Menu", *n, true, state_.Definition.MenuArchiv) : "";
        if (state_.MenuSection.empty())
            return TRequestOutcome::NoMenuLine;
    }

    if (flags.DeferredDispatch) {
        state_.DeferredDispatchPending = true;
        state_.IgnoreFurtherRequests = true;
        return TRequestOutcome::Deferred;
    }

    host_.DispatchRequest();
    if (state_.Finished)
        return TRequestOutcome::Dispatched;
    if (ClosesByItself(state_.Mode)) {
        if (state_.Definition.Close) {
            host_.FinishRequest();
            return TRequestOutcome::Dispatched;
        }
        state_.AutomaticRunFinished = true;
        host_.AutomaticRunDone();
    }
    return TRequestOutcome::Dispatched;
}
