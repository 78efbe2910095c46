// A second C entry point for readprops: the same reading as pelbrook, with the
// reasons behind the values (trust verdict, chain, timestamp, version table).

#include "anchors.h"
#include "signaturecache.h"
#include "authenticode.h"
#include "properties.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t pathUnits = 260;

} // namespace

// Writes "topic<TAB>text" lines in UTF-8 into report, cut to capacity with its
// terminator. Returns the same status as pelbrook.
extern "C" VANTORIL_EXPORT int pelbrook_explain(const char16_t *path, char *report, std::size_t capacity)
{
    const vantoril::CryptoScope cryptoScope;
    if (!report || capacity == 0)
        return 2;
    report[0] = '\0';
    try {
        std::size_t length = 0;
        while (path && length < pathUnits && path[length])
            ++length;
        if (!path || length == pathUnits)
            return 2;
        vantoril::FileProperties properties;
        std::string outcome;
        const vantoril::Anchors &anchors = vantoril::Anchors::shared();
        const bool read =
            vantoril::readFileProperties(std::u16string(path, length), anchors, vantoril::SignatureCache::shared(),
                                         properties, outcome);
        std::string text;
        for (const std::string &note : anchors.notes())
            text += "anchors\t" + note + "\n";
        for (const std::string &line : properties.explanation)
            text += line + "\n";
        text += "outcome\t" + outcome + "\n";
        const std::size_t size = std::min(text.size(), capacity - 1);
        std::memcpy(report, text.data(), size);
        report[size] = '\0';
        return !read ? 1 : properties.signerWithheld ? 4 : 0;
    } catch (...) {
        report[0] = '\0';
        return 3;
    }
}
