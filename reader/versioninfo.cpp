#include "versioninfo.h"

#include "reader.h"
#include "text.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vantoril {

namespace {

// Microsoft version information: every block starts with wLength, wValueLength
// and wType, then a NUL-terminated UTF-16 key; the value and the children
// follow, each aligned to 4 bytes from the start of the resource.
constexpr std::size_t blockHeaderSize = 6;

struct Block
{
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t valueBegin = 0;
    std::uint16_t valueLength = 0;
    std::u16string key;
};

std::size_t align4(std::size_t value)
{
    return (value + 3) & ~std::size_t(3);
}

bool readBlock(const Reader &reader, std::size_t begin, std::size_t limit, Block &block)
{
    std::uint16_t length = 0;
    if (begin + blockHeaderSize > limit || !reader.u16(begin, length) || length < blockHeaderSize)
        return false;
    block.begin = begin;
    block.end = std::min<std::size_t>(begin + length, limit);
    reader.u16(begin + 2, block.valueLength);
    block.key.clear();
    std::size_t position = begin + blockHeaderSize;
    std::uint16_t unit = 0;
    while (position + 2 <= block.end && reader.u16(position, unit) && unit != 0) {
        block.key.push_back(static_cast<char16_t>(unit));
        position += 2;
    }
    block.valueBegin = std::min(align4(position + 2), block.end);
    return true;
}

// The children of a block start after its value; childrenBegin says where.
template<typename Visit>
void forEachChild(const Reader &reader, std::size_t childrenBegin, std::size_t end, Visit visit)
{
    Block child;
    for (std::size_t position = childrenBegin; readBlock(reader, position, end, child);
         position = align4(child.end)) {
        visit(child);
        if (child.end >= end)
            break;
    }
}

bool sameKey(const std::u16string &key, const char *ascii)
{
    std::size_t i = 0;
    for (; ascii[i]; ++i) {
        if (i >= key.size())
            return false;
        char16_t a = key[i];
        char16_t b = static_cast<char16_t>(ascii[i]);
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a + 32);
        if (b >= u'A' && b <= u'Z')
            b = static_cast<char16_t>(b + 32);
        if (a != b)
            return false;
    }
    return i == key.size();
}

// A value runs up to its first NUL, capped at the end of its block.
std::u16string stringValue(const Reader &reader, const Block &block)
{
    std::u16string value;
    std::uint16_t unit = 0;
    for (std::size_t position = block.valueBegin; position + 2 <= block.end && reader.u16(position, unit) && unit;
         position += 2)
        value.push_back(static_cast<char16_t>(unit));
    return trimmed(value);
}

struct StringTable
{
    bool keyValid = false;
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    VersionStrings strings;
};

struct Translation
{
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
};

bool parseTableKey(const std::u16string &key, StringTable &table)
{
    if (key.size() != 8)
        return false;
    std::uint32_t value = 0;
    for (char16_t c : key) {
        std::uint32_t digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        value = (value << 4) | digit;
    }
    table.language = static_cast<std::uint16_t>(value >> 16);
    table.codePage = static_cast<std::uint16_t>(value & 0xFFFF);
    return true;
}

StringTable readStringTable(const Reader &reader, const Block &block)
{
    StringTable table;
    table.keyValid = parseTableKey(block.key, table);
    table.strings.table = block.key;
    bool haveProduct = false;
    bool haveDescription = false;
    bool haveOriginal = false;
    forEachChild(reader, block.valueBegin, block.end, [&](const Block &entry) {
        if (!haveProduct && sameKey(entry.key, "ProductName")) {
            table.strings.productName = stringValue(reader, entry);
            haveProduct = true;
        } else if (!haveDescription && sameKey(entry.key, "FileDescription")) {
            table.strings.fileDescription = stringValue(reader, entry);
            haveDescription = true;
        } else if (!haveOriginal && sameKey(entry.key, "OriginalFilename")) {
            table.strings.originalFilename = stringValue(reader, entry);
            haveOriginal = true;
        }
    });
    return table;
}

void readTranslations(const Reader &reader, const Block &var, std::vector<Translation> &translations)
{
    for (std::size_t position = var.valueBegin; position + 4 <= var.end; position += 4) {
        Translation translation;
        reader.u16(position, translation.language);
        reader.u16(position + 2, translation.codePage);
        translations.push_back(translation);
    }
}

const StringTable *chooseTable(const std::vector<StringTable> &tables, const std::vector<Translation> &translations)
{
    for (const Translation &wanted : translations)
        for (const StringTable &table : tables)
            if (table.keyValid && table.language == wanted.language && table.codePage == wanted.codePage)
                return &table;
    for (const Translation &wanted : translations)
        for (const StringTable &table : tables)
            if (table.keyValid && table.language == wanted.language)
                return &table;
    // US English in Unicode, then in Windows Latin-1, then code-page neutral.
    const std::pair<std::uint16_t, std::uint16_t> fallbacks[] = {{0x0409, 0x04B0}, {0x0409, 0x04E4}, {0x0409, 0x0000}};
    for (const auto &fallback : fallbacks)
        for (const StringTable &table : tables)
            if (table.keyValid && table.language == fallback.first && table.codePage == fallback.second)
                return &table;
    return tables.empty() ? nullptr : &tables.front();
}

} // namespace

VersionStrings parseVersionInfo(const std::uint8_t *data, std::size_t size)
{
    const Reader reader(data, size);
    Block root;
    if (!readBlock(reader, 0, size, root))
        return {};
    std::vector<StringTable> tables;
    std::vector<Translation> translations;
    // StringFileInfo and VarFileInfo are found by key: either may come first.
    const std::size_t rootChildren = align4(root.valueBegin + root.valueLength);
    forEachChild(reader, rootChildren, root.end, [&](const Block &child) {
        if (sameKey(child.key, "StringFileInfo")) {
            forEachChild(reader, child.valueBegin, child.end,
                         [&](const Block &table) { tables.push_back(readStringTable(reader, table)); });
        } else if (sameKey(child.key, "VarFileInfo")) {
            forEachChild(reader, child.valueBegin, child.end, [&](const Block &var) {
                if (sameKey(var.key, "Translation"))
                    readTranslations(reader, var, translations);
            });
        }
    });
    const StringTable *chosen = chooseTable(tables, translations);
    return chosen ? chosen->strings : VersionStrings();
}

} // namespace vantoril
