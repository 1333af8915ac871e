// Reading a launcher's t.log: every byte is XOR-ed with the log key, lines end in CR LF,
// and the text is in the ANSI code page of the machine that wrote it (UTF-8 on Linux).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The plain text: every byte XOR-ed with the key, CR LF turned into LF. The bytes stay in
// the writer's code page.
std::string DecodeLog(const std::string& scrambled, std::uint8_t key);

// True when the plain text starts like a launcher log line ("[2024-"...): a wrong key
// gives something else.
bool LooksLikeLog(const std::string& plain);

// "0x3C", "0X3c" or "60": one byte; nothing for anything else.
std::optional<std::uint8_t> ParseKey(const std::string& text);
