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

    // Reading only ticks options, and the port does not come from the settings already held.
    veldar::Settings ticked;
    ticked.Port = 42;
    ticked.ViewFile = ticked.AutoFileName = ticked.Overwrite = true;
    const veldar::Settings over = veldar::ParseSettings(bytes, ticked);
    FUZZ_CHECK(over.Port == parsed.Port);
    FUZZ_CHECK(over.ViewFile && over.AutoFileName && over.Overwrite);

    // A folder holding a line break cannot be written on its one line.
    const std::string& read = parsed.DestPath.native();
    const bool folderFits = read.find_first_of("\r\n") == std::string::npos;
    const std::string folder = folderFits ? read : std::string();
    const veldar::ByteString file =
        veldar::FormatSettings("COM" + std::to_string(parsed.Port), folder, parsed.ViewFile,
                               parsed.AutoFileName, parsed.Overwrite);
    const veldar::Settings again = veldar::ParseSettings(file);
    FUZZ_CHECK(again.Port == parsed.Port);
    FUZZ_CHECK(again.DestPath.native() == folder);
    FUZZ_CHECK(again.ViewFile == parsed.ViewFile);
    FUZZ_CHECK(again.AutoFileName == parsed.AutoFileName);
    FUZZ_CHECK(again.Overwrite == parsed.Overwrite);
    return 0;
}
