// Fuzz target for the registry file reader: registry files are text anyone can edit. Whatever it
// reads must come back unchanged from a save, and any value name must survive a save.

#include "platform/RegistryStore.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kRoot = "HKEY_CURRENT_USER";

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    gardivo::RegistryHive hive;
    hive.parse(text, kRoot); // what could be read is kept either way
    const std::string saved = hive.serialize(kRoot);
    gardivo::RegistryHive again;
    check(again.parse(saved, kRoot));
    check(again.serialize(kRoot) == saved);

    // The input as a value name and as string data.
    gardivo::RegistryHive named;
    if (named.setValue("SOFTWARE\\Tavrin", text, gardivo::RegistryValue::binary({1, 2, 3}))) {
        gardivo::RegistryHive back;
        check(back.parse(named.serialize(kRoot), kRoot));
        check(back.value("SOFTWARE\\Tavrin", text) == gardivo::RegistryValue::binary({1, 2, 3}));
    }
    // As a key path: refused when it holds a control character, kept otherwise.
    gardivo::RegistryHive keyed;
    if (keyed.setValue(text, "v", gardivo::RegistryValue::dword(7))) {
        gardivo::RegistryHive back;
        check(back.parse(keyed.serialize(kRoot), kRoot));
        check(back.value(text, "v") == gardivo::RegistryValue::dword(7));
    }
    return 0;
}

std::vector<std::string> fuzzSeeds() {
    return {
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tavrin\\Gardivo]\n\"Brightness\"=hex:00,00,00,00,80,00\n"
        "\"PHONECALL\"=dword:00000001\n\"WORKINGDIR\"=hex(7):2f,6f,70,74,00,00\n\"COUNTRY\"=\"Taiwan\"\n"
        "@=\"default\"\n\"a\\\"b\\\\c\\n\"=hex(b):01,02\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tavrin\\Gardivo\\"
        "CaptureDevices]\n\"Device0\"=\"Test Pattern\"\n",
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"x\"=\"y\"\r\n",
    };
}
