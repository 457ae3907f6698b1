// Feeds raw bytes to the registry file parser as each root's file. Whatever it accepts must come
// back unchanged through the text form: written, read again and written again, the same bytes.
// The written text may grow only by escapes (a raw control character becomes "\xHH") and the
// fixed header, so a file that was read can always be written back.

#include "shell/registrystorehive.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const qmt::RegistryRoot root : {qmt::HKEY_LOCAL_MACHINE, qmt::HKEY_CLASSES_ROOT}) {
        const auto hive = qmt::RegistryHive::parse(root, bytes);
        if (!hive)
            continue;
        const QByteArray text = hive->serialize();
        if (text.size() > 4 * bytes.size() + 256)
            std::abort();
        const auto again = qmt::RegistryHive::parse(root, text);
        if (!again || again->serialize() != text || again->keyCount() != hive->keyCount() ||
            again->valueCount() != hive->valueCount())
            std::abort();
    }
    return 0;
}
