// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/fingerprint.h"

#include "core/files/regularfile.h"

#include <QDir>
#include <QFile>

#include <memory>

// The hash is compiled in, so that no program needs the library at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

QString hexOf(XXH128_hash_t hash)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(canonical.digest), sizeof canonical.digest)
            .toHex());
}

} // namespace

Fingerprint fingerprintOf(QByteArrayView bytes)
{
    return {bytes.size(), hexOf(XXH3_128bits(bytes.data(), std::size_t(bytes.size())))};
}

std::variant<Fingerprint, FileError> fingerprintOfFile(const QString &path)
{
    QFile file;
    if (const FileResult error = openRegularFile(path, file))
        return *error;
    XXH3_state_t state;
    XXH3_INITSTATE(&state);
    XXH3_128bits_reset(&state);
    constexpr qint64 blockBytes = qint64(1) << 20;
    const auto block = std::make_unique<char[]>(std::size_t(blockBytes));
    qint64 size = 0;
    for (;;) {
        const qint64 got = file.read(block.get(), blockBytes);
        if (got < 0)
            return FileError{QDir::toNativeSeparators(path), file.errorString()};
        if (got == 0)
            break;
        XXH3_128bits_update(&state, block.get(), std::size_t(got));
        size += got;
    }
    return Fingerprint{size, hexOf(XXH3_128bits_digest(&state))};
}
