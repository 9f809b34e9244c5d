// The menu file and the menu text grammar: a section lookup, the builder's parse and its choices.
// The first line of the input is the option string, the rest the menu file. The app library is not
// linked into fuzz targets, so its readers are compiled in here.
#include "app/lib/DefinitionFile.h"
#include "app/lib/MenuText.h"
#include "unit/U_FileUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view optionText = input.substr(0, split);
    const std::string_view fileBytes = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    TDefinitionValues values;
    ParseDefinitionText(fileBytes, values);

    const TMenuFile file = TMenuFile::FromBytes(fileBytes);
    const int value = size > 0 ? data[0] % 8 - 1 : -1;
    (void)ScanMenuSection(file, "MENU", value);
    const TMenuSection section = ReadMenuSection(file, "MENU", value);

    const TMenuOptions options = ParseMenuOptions(optionText);
    const TMenuModel model = ParseMenuText(section.Found ? std::string_view(section.MenuText) : fileBytes);
    const auto buttons = model.Buttons();
    const auto boxes = model.CheckBoxes();
    const TMenuPreselection preselect = PreselectButton(model, options, value);
    if (preselect.Index >= int(buttons.size()) && preselect.Index != options.PreselectIndex)
        std::abort();
    for (const char32_t key : {U' ', U'1', U'a', U'Z', U'\\', U'\u010D'}) {
        const TMenuKeyResult hit = MenuAcceleratorKey(model, options, key);
        if (hit.Index >= int(buttons.size()))
            std::abort();
    }
    const std::vector<bool> ticked(boxes.size(), true);
    for (int index = -1; index <= int(buttons.size()); ++index)
        (void)ChooseMenuButton(model, index, ticked);
    return 0;
}
