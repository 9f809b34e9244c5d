// File associations: registers archive extensions as file types opened by the running program
// (per extension a class key, a description, an icon and an open command) in the registry store.
// Nothing is written unless the host's OnAssociation answers that it may be.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ZipCommon.h"

enum TRegistrySection : std::uint8_t { plxHKEY_LOCAL_MACHINE, plxHKEY_CURRENT_USER };

// Cancel starts True: only a host that clears it lets the component write.
using TOnAssociation = std::function<void(TObject* Sender, const std::string& AppName, bool& Cancel)>;

class TRegArchive : public TZipCommon {
public:
    // The extensions of the archive file filter (E_ARCHIVESFILTER).
    explicit TRegArchive(TObject* AOwner = nullptr);

    bool ActivateOnStartup = true;
    int IconIndex = 0;
    std::string MenuName;  // caption of the open verb, written only when set
    TRegistrySection RegistrySection = plxHKEY_LOCAL_MACHINE;
    TOnAssociation OnAssociation;

    // Lower case with the leading dot; ".exe" is never kept.
    const std::vector<std::string>& ArcExtensions() const { return FArcExtensions; }
    void SetArcExtensions(const std::vector<std::string>& Value);
    // The class name; "[Appname]" stands for the program's file name up to its first ".".
    // "Ostrak32" reads back as the default too.
    std::string ExtDescription() const;
    void SetExtDescription(const std::string& Value);
    // The type's description; "[Appname file]" stands for the class name and " file".
    // "Ostrak32 file" reads back as the default.
    std::string FileDescription() const;
    void SetFileDescription(const std::string& Value);
    // The argument of the open command.
    const std::string& ParamString() const { return FParamString; }
    void SetParamString(const std::string& Value);

    // After loading the component's settings: registers when ActivateOnStartup is set.
    void Loaded();
    // Registers the extensions unless every one already opens this program; without
    // OnAssociation, or when it keeps Cancel, nothing is written. Keys that cannot be written are
    // reported (E_REGISTRYPERMISSIONS) and the next is tried.
    void Activate();
    // Whether every extension already opens this program.
    bool AllRegistered();

    std::string AppName() const;
    std::string Description() const;
    // What the open command holds for this program: "\"<program>\" \"<ParamString>\"".
    std::string OpenCommand() const;

private:
    void WriteKey(const std::string& Key, const std::string& Value);

    std::vector<std::string> FArcExtensions;
    std::string FExtDescription;
    std::string FFileDescription;
    std::string FParamString;
    std::string FProgram;  // this program's file, a Windows path
};
