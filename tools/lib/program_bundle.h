// Appends the runtime's block (packs and a screen-saver image) to a copy of a program and
// records the block's offset in the program's block-offset record.
#pragma once

#include <cstdint>
#include <string>

// Where the u32 of the block-offset record stands in a program's bytes: -1 when the record's
// marker is missing, -2 when it is found more than once.
int64_t FindBlockOffsetRecord(const std::string& program);

// The block as the runtime reads it: "KVER", u32 pack offset from the block's start (0 when
// there is no pack), u32 image size, u32 0, the image, then the pack.
std::string BuildAppendedBlock(const std::string& pack, const std::string& image);

// The program with the block appended and its offset recorded; false (with `error`) when the
// program has no single record or would outgrow a 32-bit offset.
bool BundleProgram(const std::string& program, const std::string& pack, const std::string& image,
                   std::string* out, std::string* error);
// The same between files; the output is made executable.
bool BundleProgramFile(const std::string& programPath, const std::string& outPath, const std::string& pack,
                       const std::string& image, std::string* error);
