#pragma once
// A certificate as people who work with certificates read it: the text `openssl x509 -text
// -noout` prints, and its PEM form. The window shows them when the desktop has no viewer.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orvanta {

// Every field of the certificate as `openssl x509 -text -noout` prints it; nothing when the
// bytes are not one DER certificate.
std::optional<std::string> certificateText(std::span<const uint8_t> der);
// "-----BEGIN CERTIFICATE-----" ...; nothing when the bytes are not one DER certificate.
std::optional<std::string> certificatePem(std::span<const uint8_t> der);

}  // namespace orvanta
