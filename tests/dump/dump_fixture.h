// A dump engine on one end of a virtual line, a scripted device on the other, a window in
// virtual time and a temporary destination folder.
#pragma once

#include "dump_engine.h"
#include "fake_host.h"
#include "virtual_driver.h"
#include "virtual_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace veldar::test {

namespace fs = std::filesystem;

class DumpTest : public ::testing::Test {
protected:
    DumpTest() : line(VirtualLine::Create()), port(line->Device(VirtualLine::A)) {
        port.SetBaudRate(br115200);
        port.FlowControl().SetControlDTR(dtrEnable);
        // The triggers are called by the tests themselves: no event thread.
        port.SetEvents(TComEvents{});
        port.SetConnected(true);
        busy = false;
        root = fs::temp_directory_path() /
               ("veldar-dump-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root / "dest");
        fs::create_directories(root / "exe");
        fs::create_directories(root / "home");
        host.Choices.DestPath = (root / "dest").string();
        host.ExeFolder = (root / "exe").string() + "/";
        host.Home = (root / "home").string() + "/";
    }

    ~DumpTest() override {
        std::error_code ec;
        fs::permissions(root, fs::perms::all, ec);
        fs::remove_all(root, ec);
    }

    // A device with the usual timing: answers in 2 ms, first record 30 ms after.
    devsim::VirtualDeviceDriver& Device(devsim::DeviceConfig config) {
        driver = std::make_unique<devsim::VirtualDeviceDriver>(line, std::move(config));
        host.OnTime = [this](std::int64_t now) { driver->Step(now); };
        return *driver;
    }

    static devsim::DeviceConfig Payloads(std::vector<ByteString> payloads, bool header = false,
                                         std::string name = "ABC") {
        devsim::DeviceConfig config;
        config.payloads = std::move(payloads);
        config.sendHeader = header;
        config.headerName = std::move(name);
        return config;
    }

    static ByteString ReadFile(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return ByteString(std::istreambuf_iterator<char>(in), {});
    }

    // Files of a folder, by name.
    static std::vector<std::string> Files(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The log line without its leading dots (one per read of the record).
    static ByteString WithoutTrace(const ByteString& line) {
        return line.substr(line.find_first_not_of('.'));
    }

    static inline int counter = 0;
    std::shared_ptr<VirtualLine> line;
    TComPort port;
    bool busy = true;
    FakeHost host;
    FaultyFiles files;
    DumpEngine engine{busy, port, host, host, files, [this] { return host.Options(); }};
    DumpRunState& state = engine.Run();
    std::unique_ptr<devsim::VirtualDeviceDriver> driver;
    fs::path root;
};

} // namespace veldar::test
