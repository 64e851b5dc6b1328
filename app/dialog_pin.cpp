#include "app/dialog_pin.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialog_units.h"

namespace orvanta {

void wipeQString(QString& text) {
    if (!text.isEmpty()) {
        // data() detaches a shared buffer first; the copy we overwrite is then our own.
        QChar* chars = text.data();
        std::fill(chars, chars + text.size(), QChar(u'\0'));
    }
    text.clear();
}

CDialogPIN::CDialogPIN(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString());  // a caption bar without caption text
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* label = new QLabel(QStringLiteral("PIN:"), this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("pinEdit"));
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    label->setBuddy(m_edit);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(ok, &QPushButton::clicked, this, &CDialogPIN::onOk);
    connect(cancel, &QPushButton::clicked, this, &CDialogPIN::onCancel);

    auto* field = new QHBoxLayout;
    field->addWidget(label);
    field->addWidget(m_edit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addLayout(field);
    layout->addStretch(1);
    layout->addLayout(buttons);

    setMinimumSize(dialogUnitsToPixels(*this, 171, 78));
}

CDialogPIN::~CDialogPIN() {
    wipe();
}

void CDialogPIN::wipe() {
    wipeQString(m_pin);
    m_edit->clear();
}

void CDialogPIN::onOk() {
    m_pin = m_edit->text();
    m_edit->clear();
    accept();
}

void CDialogPIN::onCancel() {
    wipeQString(m_pin);
    m_edit->clear();
    reject();
}

}  // namespace orvanta
