#pragma once
// The three tab pages as models: each owns its two-column rows ("Item", "Value") and,
// for the certification pages, the path of the last temporary certificate file. The Qt
// views and the command line show these; all page behaviour is tested without a window.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

inline constexpr const char* TIPS_LABEL = "Tips";
inline constexpr const char* TIPS_TEXT =
    "Double click and press button/verify fingerprint to fetch certifications!";

// What a double click on a row does.
enum class RowAction : uint8_t {
    None,
    Fetch,              // "Tips": start the page's fetch
    ExportCertificate,  // "Base64 encode": open the row's certificate
};

struct Row {
    std::string label;
    std::optional<std::string> value;  // a row may have a label and no value
    RowAction action = RowAction::None;
    size_t certificate = 0;  // ExportCertificate: index into the page's certificates
    // Why the row reads as it does, for a tool tip (empty: the row speaks for itself).
    std::string tip{};
    std::string valueText() const { return value.value_or(std::string()); }
};

// What the metadata BLOB says about the key a page shows.
struct MetadataFacts {
    bool listed = false;  // an entry was found
    std::string description;
    std::string status;  // of the latest status report
    std::string effectiveDate;
    // REVOKED or a *_COMPROMISE status: the key must not be trusted.
    bool compromised() const;
};

class PageModel {
  public:
    // Set when a metadata BLOB was consulted for the page; cleared with the rows.
    std::optional<MetadataFacts> metadata;

    virtual ~PageModel() = default;

    const std::vector<Row>& rows() const { return rows_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Label of row index, or empty text for an index outside the list (a click below the
    // last row).
    std::string labelAt(int index) const;
    std::string valueAt(int index) const;

    // Appends at the end; returns the new row's index.
    int AppendRow(const std::string& label, std::optional<std::string> value = std::nullopt);
    int AppendRow(Row row);
    // What a double click on row index does (outside the list: nothing).
    RowAction actionAt(int index) const;
    // Inserts at index 0 (prompt rows go into an empty list).
    void insertFirst(Row row);
    void deleteAllRows();

    // Called after every change of the rows.
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

  private:
    void changed();
    std::vector<Row> rows_;
    std::function<void()> observer_;
};

class HardInfoPage : public PageModel {};

// A certificate a certification page shows: the bytes as the key sent them and the outcome
// of its signature check (none when it was not checked).
struct PageCertificate {
    std::vector<uint8_t> der;
    std::optional<bool> verified;
    // Whether the next certificate of the chain (the last: a metadata root) signed it, and
    // why not.
    std::optional<bool> chainOk{};
    std::string chainReason{};
    // The packed-attestation rules the attestation certificate does not meet (checked on
    // the FIDO2 page's first certificate only).
    std::optional<std::vector<std::string>> unmetRequirements{};
};

// A certification page: remembers its certificates and its last temporary certificate file.
class CertificatePage : public PageModel {
  public:
    CertificatePage() = default;
    CertificatePage(const CertificatePage&) = delete;
    CertificatePage& operator=(const CertificatePage&) = delete;
    // The page's temporary files go with it.
    ~CertificatePage() override;

    // The certificates shown since the page was last cleared, in page order.
    std::vector<PageCertificate> certificates;
    // Keeps a certificate; returns its index for the rows that refer to it.
    size_t addCertificate(PageCertificate certificate);
    // Only the last path is remembered; writing a new file replaces the path without
    // deleting the file the old path named.
    std::string certificateFileName;
    // Every temporary certificate file written for the page since it was last cleared.
    std::vector<std::string> temporaryFiles;
    // Where the page writes its certificate files; empty: the temporary directory.
    std::string fileDirectory;
    // Deletes all rows, the certificates, the remembered file (the name itself stays) and
    // every other temporary file of the page.
    void clearCertificatePage();

  private:
    void removeTemporaryFiles();
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
