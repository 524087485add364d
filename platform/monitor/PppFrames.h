// PPP frames as the monitor shows and keeps them: a few words for the log,
// and the secrets of authentication masked before a frame is kept anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Overwrites with '*' the password of a PAP Authenticate-Request (and
// whatever follows it in the frame) and the value of a CHAP Response; the
// length fields and every other byte stay as they were, so the frame still
// decodes.
void maskSecrets(std::uint8_t* frame, std::size_t length);

// The protocol and what the frame does: "LCP Configure-Request id 1",
// "PAP Authenticate-Request id 2", "IP 10.0.0.2 > 10.0.0.1 TCP 1025 > 80 SYN".
std::string describeFrame(const std::uint8_t* frame, std::size_t length);
