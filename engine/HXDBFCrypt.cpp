// THXDBFCrypt: activation, the context, Encrypt and Decrypt, Assign.
#include "engine/HXDBFCrypt.h"

#include "engine/HXDBFGostCrypt.h"
#include "platform/exception.h"

namespace zarbel {

THXDBFCrypt::THXDBFCrypt(THXSmartDBF* owner) : Owner_(owner) {}

THXDBFCrypt::~THXDBFCrypt() {
    try {
        SetActive(false);
    } catch (...) {
        // a destructor cannot pass the handler's failure on
    }
}

void THXDBFCrypt::SetActive(bool v) {
    if (v == Active_) return;
    if (v) {
        if (OnActivateCrypt) OnActivateCrypt(*this);
        switch (CryptMethod_) {
            case cmXOR: Context_ = std::make_unique<TGostCrypt>(Password_, TGostCrypt::ksOne, false); break;
            case cmGost: Context_ = std::make_unique<TGostCrypt>(Password_, TGostCrypt::ksOne); break;
            case cmGost1: Context_ = std::make_unique<TGostCrypt>(Password_, TGostCrypt::ksTwo); break;
            case cmCustomer:
            case cmNone: Context_.reset(); break;
        }
        ContextMethod_ = CryptMethod_;
        Active_ = true;
    } else {
        if (OnDeactivateCrypt) OnDeactivateCrypt(*this);
        Context_.reset();
        ContextMethod_ = cmNone;
        Active_ = false;
    }
}

void THXDBFCrypt::Assign(const THXDBFCrypt& source) {
    if (&source == this) return;
    CryptMethod_ = source.CryptMethod_;
    Password_ = source.Password_;
    OnActivateCrypt = source.OnActivateCrypt;
    OnDeactivateCrypt = source.OnDeactivateCrypt;
    OnEncrypt = source.OnEncrypt;
    OnDecrypt = source.OnDecrypt;
    SetActive(false);
    SetActive(source.Active_);
}

void THXDBFCrypt::Encrypt(std::uint32_t Context, void* Buff, std::size_t Size) {
    if (OnEncrypt) {
        OnEncrypt(*this, Context, Buff, Size);
        return;
    }
    Transform(Context, Buff, Size, true);
}

void THXDBFCrypt::Decrypt(std::uint32_t Context, void* Buff, std::size_t Size) {
    if (!Active_) return;
    if (OnDecrypt) {
        OnDecrypt(*this, Context, Buff, Size);
        return;
    }
    Transform(Context, Buff, Size, false);
}

void THXDBFCrypt::Transform(std::uint32_t context, void* buff, std::size_t size, bool encrypt) {
    auto* data = static_cast<std::uint8_t*>(buff);
    switch (ContextMethod_) {
        case cmNone: return;  // no context
        case cmXOR: Context_->Xor(context, data, size); return;
        case cmGost:
        case cmGost1:
            if (encrypt) Context_->Encipher(context, data, size);
            else Context_->Decipher(context, data, size);
            return;
        case cmCustomer:
            throw Exception(encrypt ? "THXDBFCrypt.Encrypt: CryptMethod cmCustomer needs an OnEncrypt handler!"
                                    : "THXDBFCrypt.Decrypt: CryptMethod cmCustomer needs an OnDecrypt handler!");
    }
}

}  // namespace zarbel
