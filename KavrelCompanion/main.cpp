#include "CompanionCore/storage/InstanceLock.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"

#include <cstdio>
#include <exception>
#include <string_view>

namespace {

// Opens the private directory and takes the instance lock, as start-up does, and says where they are.
int check() {
    using namespace kavrel;
    try {
        const auto directory = PrivateStorage::directory();
        const InstanceLock lock(directory);
        std::printf("Private directory: %s\nInstance lock: %s (held)\n", directory.c_str(),
                    (directory / "app.lock").c_str());
        return 0;
    } catch (const StorageError& error) {
        if (error.code() == StorageError::Code::alreadyRunning) {
            std::fprintf(stderr, "Kavrel Companion is already running.\n");
        } else {
            std::fprintf(stderr, "Kavrel could not open its private settings. The companion will not use an "
                                 "insecure state directory.\n");
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Kavrel could not open its private settings: %s\n", error.what());
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--check") {
        return check();
    }
    std::fprintf(stderr, "usage: %s --check\n", argv[0]);
    return 2;
}
