#pragma once
// Fixtures of the certificate fetch tests, where the user confirms every fetch: one against
// a scripted key that the test answers message by message, one against the virtual key with
// the window's three pages.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "cert/certificate_pages.h"
#include "info/device_refresh.h"
#include "support/fake_hid.h"
#include "support/scripted_prompts.h"
#include "support/temp_dir.h"
#include "support/transport_fixture.h"
#include "support/virtual_key_fixture.h"

namespace orvanta::test {

// A fetch against a scripted key: every CTAPHID message the key receives goes to answer().
class ScriptedKeyFetchTest : public TransportFixture, protected CertificateScratch {
  protected:
    void SetUp() override {
        TransportFixture::SetUp();
        prompts.okCancelDefault = true;
        device = connectKey();
        device->onMessage = [this](FakeDevice& key, uint8_t command, const Bytes& payload) {
            answer(key, command, payload);
        };
    }
    virtual void answer(FakeDevice& key, uint8_t command, const Bytes& payload) = 0;

    std::shared_ptr<FakeDevice> device;
    ScriptedPrompts prompts;
};

// Fetches against the virtual key, onto the window's three pages.
class VirtualKeyPagesTest : public VirtualKeyFixture, protected CertificateScratch {
  protected:
    void SetUp() override { prompts.okCancelDefault = true; }

    // The refresh as the window runs it.
    void refreshPages() {
        Pages pages{hardware, fido2, u2f};
        ShowDeviceInfo(*devices, pages, "", "");
    }

    HardInfoPage hardware;
    Fido2CertPage fido2;
    U2fCertPage u2f;
    ScriptedPrompts prompts;
};

}  // namespace orvanta::test
