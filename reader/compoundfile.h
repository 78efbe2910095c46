#ifndef VANTORIL_COMPOUNDFILE_H
#define VANTORIL_COMPOUNDFILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantoril {

// A stream of a compound file, read from its start to its end.
class CompoundStream
{
public:
    virtual ~CompoundStream() = default;
    virtual std::uint64_t size() const = 0;
    // The next len bytes; false when the stream ends first or cannot be read.
    virtual bool read(void *dst, std::size_t len) = 0;
};

struct CompoundEntry
{
    std::u16string name;
    bool isStorage = false;
};

// A storage (a folder) of a compound file. Installer databases are such files; each
// system reads them with the layer its own installer uses, behind this interface.
class CompoundStorage
{
public:
    virtual ~CompoundStorage() = default;
    // At most entryLimit entries; a storage with more is read as corrupt (empty and false).
    virtual bool entries(std::size_t entryLimit, std::vector<CompoundEntry> &list) = 0;
    virtual std::unique_ptr<CompoundStream> stream(const std::u16string &name) = 0;
    virtual std::unique_ptr<CompoundStorage> storage(const std::u16string &name) = 0;
    virtual bool classId(std::uint8_t id[16]) = 0;
};

// The root storage of a compound file, and the file's size; null with error set when
// it is not one.
std::unique_ptr<CompoundStorage> openCompoundFile(const std::string &nativePath, std::uint64_t &fileSize,
                                                  std::string &error);
// The same over bytes in memory, which must outlive the storage.
std::unique_ptr<CompoundStorage> openCompoundMemory(const std::uint8_t *data, std::size_t size, std::string &error);

} // namespace vantoril

#endif
