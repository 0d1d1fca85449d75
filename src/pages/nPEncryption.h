#pragma once
// The Encryption page: the WEP mode, the key bytes typed two hexadecimal digits at a time
// or generated from a passphrase, and the default key. Apply stores them in the registry and
// hands them to the connection service.

#include "framework/Button.h"
#include "framework/ComboBox.h"
#include "framework/Edit.h"
#include "framework/PropertyPage.h"
#include "framework/Static.h"

#include <array>
#include <cstddef>
#include <cstdint>

class nPEncryption : public fw::PropertyPage {
    FW_DECLARE_DYNCREATE(nPEncryption)

public:
    static constexpr size_t kKeyCount = 4;
    static constexpr size_t kKeyBytes = 5;
    static constexpr size_t kGridBytes = kKeyCount * kKeyBytes;  // 20
    static constexpr int kFirstKeyEditId = 1015;                  // Key 1 byte 1; Key 4 byte 5 is 1034

    // Entries of the WEP mode list.
    static constexpr int kModeDisabled = 0;
    static constexpr int kMode64 = 1;
    static constexpr int kMode128 = 2;

    nPEncryption();
    ~nPEncryption() override;

    // The dialog initialisation of this page.
    bool OnInitDialog() override;
    bool InitPage();

    void OnWepModeChange();
    void UpdateKeyControls();
    void OnKeyByteChange();
    void NormalizeKeyByte(fw::Edit& edit);
    void OnGenerate();
    void ApplyWep();

    // Set only while NormalizeKeyByte rewrites an edit, so that the change notification its
    // own text setting raises is not normalised again. One for the whole process.
    static inline bool inKeyNormalize = false;

    // Working copy of the key bytes, four keys of five bytes, row by row. Construction
    // leaves it unset; InitPage fills it.
    std::array<uint8_t, kGridBytes> KeyGrid;
    // The grid edit of Key k, byte b is keyEdits[5(k-1) + (b-1)], id 1015 + 5(k-1) + (b-1).
    std::array<fw::Edit, kGridBytes> keyEdits;
    // "Default Key", "Key 4", "Key 3", "Key 2": bound to 1039, 1038, 1037, 1036.
    std::array<fw::Static, 4> keyLabels;
    fw::Button generateButton;
    fw::Edit passphraseEdit;
    fw::ComboBox wepModeCombo;
    fw::ComboBox defaultKeyCombo;

protected:
    void DoDataExchange(fw::DataExchange& dx) override;

    FW_DECLARE_MESSAGE_MAP()

private:
    void LoadKeyGrid();
    void ShowKeyGrid();
    void ReadKeyGrid();
    size_t StoredKeyBytes() const;
};
