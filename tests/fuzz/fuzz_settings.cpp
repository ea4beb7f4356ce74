// The settings file's text on arbitrary bytes: reading never fails, and what was read, written
// back in the file's format, reads again as the same settings.
#include "fuzz_check.h"
#include "settings_file.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const veldar::ByteString bytes(reinterpret_cast<const char*>(data), size);
    const veldar::Settings parsed = veldar::ParseSettings(bytes);

    // Reading only ticks choices, and the port does not come from the settings already held.
    veldar::Settings ticked;
    ticked.Port = 42;
    for (const veldar::ChoiceItem& item : veldar::ChoiceItems)
        ticked.Choices.*item.Ticked = true;
    const veldar::Settings over = veldar::ParseSettings(bytes, ticked);
    FUZZ_CHECK(over.Port == parsed.Port);
    for (const veldar::ChoiceItem& item : veldar::ChoiceItems)
        FUZZ_CHECK(over.Choices.*item.Ticked);

    // A folder holding a line break cannot be written on its one line.
    const std::string& read = parsed.Choices.DestPath.native();
    const bool folderFits = read.find_first_of("\r\n") == std::string::npos;
    veldar::SaveChoices written = parsed.Choices;
    written.DestPath = folderFits ? read : std::string();
    const veldar::ByteString file =
        veldar::FormatSettings("COM" + std::to_string(parsed.Port), written);
    const veldar::Settings again = veldar::ParseSettings(file);
    FUZZ_CHECK(again.Port == parsed.Port);
    FUZZ_CHECK(again.Choices.DestPath.native() == written.DestPath.native());
    for (const veldar::ChoiceItem& item : veldar::ChoiceItems)
        FUZZ_CHECK(again.Choices.*item.Ticked == parsed.Choices.*item.Ticked);
    return 0;
}
