// THXDBFCrypt: a table's cipher. While active, every record image, memo entry and index page
// passes through it on its way to and from the file, enciphered in place under a 32-bit
// context (the record number, the entry's byte position, the page's offset).
//
// Methods: cmNone (nothing), cmXOR (the XOR keystream), cmGost and cmGost1 (GOST 28147-89 with
// key schedule 1 or 2), cmCustomer (the caller's OnEncrypt / OnDecrypt handlers). These are
// ciphers for reading and writing tables of the same format as other programs, not for
// keeping data secret (see HXDBFGostCrypt.h).
//
// The context. Activation builds it from the method and the password as they are then, and
// Encrypt and Decrypt use nothing else: changing CryptMethod or Password while active changes
// nothing until the crypt is deactivated and activated again (the table does that when it
// opens), so one file never mixes two keys, and a method switched while active never runs
// without its key. Encrypt and Decrypt without a context (cmNone, or inactive) leave the data
// as it is.
//
// Handlers:
//   - OnActivateCrypt runs first on activation; then the built-in context of the method is
//     built all the same, so a handler beside cmXOR, cmGost or cmGost1 does not leave the
//     method without its key. OnDeactivateCrypt runs first on deactivation; then the context
//     is dropped.
//   - OnEncrypt, when assigned, replaces the built-in encipherment whatever the method (even
//     cmNone) and whether or not the crypt is active. OnDecrypt replaces the built-in
//     decipherment; Decrypt does nothing at all while inactive.
//   - cmCustomer has no built-in cipher: activated with it, Encrypt without OnEncrypt raises
//     "THXDBFCrypt.Encrypt: CryptMethod cmCustomer needs an OnEncrypt handler!" and Decrypt
//     without OnDecrypt "THXDBFCrypt.Decrypt: CryptMethod cmCustomer needs an OnDecrypt
//     handler!", so that plain text never reaches a table whose crypt is active.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/HXDBFCollaborators.h"

namespace zarbel {

enum TCryptMethod : std::uint8_t { cmNone, cmXOR, cmGost, cmGost1, cmCustomer };

class THXDBFCrypt;
class TGostCrypt;
using TCryptNotifyEvent = std::function<void(THXDBFCrypt& Sender)>;
// Transforms Size bytes at Buff in place.
using TOnCrypt = std::function<void(THXDBFCrypt& Sender, std::uint32_t Context, void* Buff, std::size_t Size)>;

class THXDBFCrypt final : public TDBFCipher {
public:
    // owner: the table that holds this crypt (may be null).
    explicit THXDBFCrypt(THXSmartDBF* owner = nullptr);
    // Deactivates first (OnDeactivateCrypt runs; what it raises is dropped).
    ~THXDBFCrypt() override;
    THXDBFCrypt(const THXDBFCrypt&) = delete;
    THXDBFCrypt& operator=(const THXDBFCrypt&) = delete;

    // ---- Published properties ----
    bool Active() const override { return Active_; }
    // Setting a new value builds or drops the context; the same value does nothing.
    void SetActive(bool v);
    TCryptMethod CryptMethod() const { return CryptMethod_; }
    void SetCryptMethod(TCryptMethod m) { CryptMethod_ = m; }
    // The password's bytes (CP1251 text in the engine).
    const std::string& Password() const { return Password_; }
    void SetPassword(const std::string& p) { Password_ = p; }
    TCryptNotifyEvent OnActivateCrypt;
    TCryptNotifyEvent OnDeactivateCrypt;
    TOnCrypt OnEncrypt;
    TOnCrypt OnDecrypt;

    THXSmartDBF* Owner() const { return Owner_; }

    // Copies method, password and the four events from source, sets this crypt inactive and
    // then to source's Active value (which builds this crypt's own context).
    void Assign(const THXDBFCrypt& source);

    void Encrypt(std::uint32_t Context, void* Buff, std::size_t Size);
    void Decrypt(std::uint32_t Context, void* Buff, std::size_t Size);

    // The table's cipher interface.
    void Encipher(std::uint32_t context, void* data, std::size_t size) override { Encrypt(context, data, size); }
    void Decipher(std::uint32_t context, void* data, std::size_t size) override { Decrypt(context, data, size); }

private:
    THXSmartDBF* Owner_;
    bool Active_ = false;
    TCryptMethod CryptMethod_ = cmNone;
    std::string Password_;
    // The context: the method it was built for, and the key of the built-in methods.
    TCryptMethod ContextMethod_ = cmNone;
    std::unique_ptr<TGostCrypt> Context_;
    void Transform(std::uint32_t context, void* buff, std::size_t size, bool encrypt);
};

}  // namespace zarbel
