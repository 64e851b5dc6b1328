// Cards in PC/SC readers in the window, through a real pcscd with orvanta-vicc as the card:
// the card watcher brings a card inserted after start into the key chooser beside the
// virtual key, its three pages show, and taking the card away takes it out of the chooser.
// Skips, saying why, only where no pcscd can be had.

#include <QComboBox>

#include "gui/window_fixture.h"
#include "support/virtual_reader.h"
#include "transport/pcsc_backend.h"

namespace orvanta {
namespace {

// A card comes and goes through the watcher and the settle wait of a device event.
constexpr int CARD_EVENT_LIMIT_MS = 15000;

class CardsInTheWindow : public test::WindowFixture {
  protected:
    void SetUp() override {
        std::string reason;
        reader = test::VirtualReader::open(&reason);
        if (!reader) {
            GTEST_SKIP() << reason;
        }
    }
    void TearDown() override {
        test::WindowFixture::TearDown();  // the window (and its card watcher) first
        reader.reset();
    }
    // The window over the virtual keys and the service's cards, following the cards.
    COrvantaDlg& openWithCards() {
        window = std::make_unique<COrvantaDlg>(cardDevices, &prompts);
        EXPECT_TRUE(settle());
        window->watchCards();
        return *window;
    }
    QString rowValue(int tab, const QString& label) const {
        const int row = rowWithLabel(tab, label);
        return row < 0 ? QStringLiteral("(missing)") : cell(tab, row, 1);
    }

    std::unique_ptr<test::VirtualReader> reader;
    DeviceContext cardDevices{
        std::make_shared<CombinedKeySource>(std::vector<std::shared_ptr<KeySource>>{
            hidKeys(backend), std::make_shared<PcscBackend>()}),
        clock};
};

TEST_F(CardsInTheWindow, AnInsertedCardJoinsTheChooserWithItsPagesAndLeavesWhenRemoved) {
    backend->addDevice("full");
    COrvantaDlg& dlg = openWithCards();
    QComboBox* chooser = dlg.keyChooser();
    ASSERT_EQ(chooser->count(), 1);

    std::string error;
    ASSERT_TRUE(reader->insertCard("full", &error)) << error;
    const QString readerName = QString::fromStdString(reader->cardReader());
    ASSERT_TRUE(test::waitUntil([&] { return !dlg.isBusy() && chooser->count() == 2; },
                                CARD_EVENT_LIMIT_MS))
        << "the card did not reach the chooser";
    EXPECT_TRUE(dlg.keyChooserRow()->isVisibleTo(&dlg));
    EXPECT_EQ(chooser->itemText(0),
              QStringLiteral("Orvanta Virtual Key (1209:0001), virtual 1 (full)"));
    EXPECT_EQ(chooser->itemText(1), QStringLiteral("Security key (card in ") + readerName + ')');
    EXPECT_EQ(chooser->currentIndex(), 0);  // the key shown before stays shown

    chooser->setCurrentIndex(1);
    emit chooser->activated(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(dlg.devices().session().device().path, PCSC_PATH_PREFIX + reader->cardReader());
    EXPECT_EQ(rowValue(HARDWARE, QStringLiteral("Device name")), readerName);
    EXPECT_EQ(rowValue(HARDWARE, QStringLiteral("U2F Version")), QStringLiteral("010A"));
    // No USB identity: the empty cells say why.
    const int vid = rowWithLabel(HARDWARE, QStringLiteral("VID"));
    ASSERT_GE(vid, 0);
    EXPECT_EQ(cell(HARDWARE, vid, 1), QString());
    EXPECT_TRUE(table(HARDWARE)->item(vid, 1)->toolTip().contains(QStringLiteral("card reader")));
    EXPECT_EQ(table(HARDWARE)->item(vid, 0)->toolTip(), table(HARDWARE)->item(vid, 1)->toolTip());

    prompts.okCancelDefault = true;
    activateRow(FIDO2, 0);
    EXPECT_EQ(rowValue(FIDO2, QStringLiteral("Verify Result")), QStringLiteral("YES"));
    activateRow(U2F, 0);
    EXPECT_EQ(rowValue(U2F, QStringLiteral("Verify Result")), QStringLiteral("YES"));

    reader->removeCard();
    ASSERT_TRUE(test::waitUntil([&] { return !dlg.isBusy() && chooser->count() == 1; },
                                CARD_EVENT_LIMIT_MS))
        << "the removed card stayed in the chooser";
    EXPECT_FALSE(dlg.keyChooserRow()->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.devices().session().device().path, "virtual:0:0");
    EXPECT_EQ(rowValue(HARDWARE, QStringLiteral("Device name")),
              QStringLiteral("Orvanta Virtual Key"));
}

}  // namespace
}  // namespace orvanta
