#pragma once
// Prints what the launcher will find in an installer, one fact per line ("key: value"),
// in the order the launcher reads it:
//
//   file size: <bytes>
//   pe offset: <H>
//   sections: <N>
//   section <i>: "<name>" raw offset <P> raw size <S>      (section-table order)
//   optional header size: <S>
//   last section header: <offset>
//   raw data size: <SizeOfRawData of the last section>
//   raw data offset: <PointerToRawData of the last section>
//   container start: <offset>
//   magic: 0xE8E413D5
//   checksum flag: <int32>
//   expected crc: 0x<8 hex digits>
//   checksummed length: <L>
//   checksum: match | MISMATCH computed 0x.. expected 0x.. | not checked (flag 0)
//             | TRUNCATED need <L> bytes, <n> available
//   config count: <C as stored>
//   config <id>: "<value>"                                  (ascending id, last one wins)
//   download location: "<entry 150>"                         (both only when 150 or 170 is set)
//   download sha256: <64 hex digits> | none (not verified) | MALFORMED "<entry 170>" (every download fails)
//   message count: <M as stored>
//   message <id>: "<text>"[ (default)]                     (marked: the packer's default text)
//   localized count: <K>
//   localized <i> key: "<key>"
//   localized <i> message count: <m>
//   localized <i> message <id>: "<text>"[ (default)]        (stored order; "de": German defaults)
//   file data position: <offset>
//   file count: <entry 2002 as the launcher reads it>
//   file names: <number of names in entry 2003>
//   file <i>: "<name>" length <F> record <offset of F>      (first N names)
//   file data end: <offset after the last record>
//   unextracted position: <what the launcher reports: the end above, 0 when N is 0>
//   trailing data length: <bytes from the file data end to the end of the file>
//   trailing magic: yes | no                                (big-endian magic there)
//
// Values are double-quoted; '"', '\\' and control characters are escaped (\n \r \t \xHH),
// configuration bytes >= 0x7F as \xHH, UTF-16 text as UTF-8 with unpaired surrogates as
// \uHHHH. All numbers are decimal except the magic and the CRCs.

#include <filesystem>
#include <ostream>
#include <string>

#include "payload/ContainerFormat.h"

namespace shipkit::pack {

// False when a read fails; `error` then names the step and the launcher's fatal text
// ("message table: Internal Error: readWString"). What was read before is printed.
bool inspectInstaller(payload::ByteSource& source, std::ostream& out, std::string& error);

bool inspectFile(const std::filesystem::path& path, std::ostream& out, std::string& error);

}  // namespace shipkit::pack
