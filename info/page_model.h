#pragma once
// The three tab pages as models: each owns its two-column rows ("Item", "Value") and,
// for the certification pages, the path of the last temporary certificate file. The Qt
// views and the command line show these; all page behaviour is tested without a window.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

inline constexpr const char* TIPS_LABEL = "Tips";
inline constexpr const char* TIPS_TEXT =
    "Double click and press button/verify fingerprint to fetch certifications!";

struct Row {
    std::string label;
    std::optional<std::string> value;  // a row may have a label and no value
    std::string valueText() const { return value.value_or(std::string()); }
};

class PageModel {
  public:
    virtual ~PageModel() = default;

    const std::vector<Row>& rows() const { return rows_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Label of row index, or empty text for an index outside the list (a click below the
    // last row).
    std::string labelAt(int index) const;
    std::string valueAt(int index) const;

    // Appends at the end; returns the new row's index.
    int AppendRow(const std::string& label, std::optional<std::string> value = std::nullopt);
    // Inserts at index 0 (prompt rows go into an empty list).
    void insertFirst(const std::string& label, std::optional<std::string> value);
    void deleteAllRows();

    // Called after every change of the rows.
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

  private:
    void changed();
    std::vector<Row> rows_;
    std::function<void()> observer_;
};

class HardInfoPage : public PageModel {};

// A certification page: remembers its last temporary certificate file.
class CertificatePage : public PageModel {
  public:
    // Only the last path is remembered; writing a new file replaces the path without
    // deleting the file the old path named.
    std::string certificateFileName;
    // Deletes all rows and the remembered file (the name itself stays).
    void clearCertificatePage();
};

// "FIDO2 Certification"
class Fido2CertPage : public CertificatePage {
  public:
    void showFido2Tips();  // row 0: "Tips"
};

// "U2F Certification"
class U2fCertPage : public CertificatePage {
  public:
    void showU2fTips();  // row 0: "Tips", row 1: the blank row " " / " "
    // Page initialisation: rows deleted, the remembered file deleted when named.
    void initialise();
};

}  // namespace orvanta
