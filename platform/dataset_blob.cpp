// Blob fields: values read and written through the dataset's blob streams.
#include "platform/dataset.h"
#include "platform/exception.h"
#include "platform/streams.h"

namespace zarbel {

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }

TBlobField::TBlobField(TFieldType type, int size) : TField(type, size) {}

void TDataSet::GetBlobText(TField* field, std::string& out) {
    out.clear();
    std::unique_ptr<TStream> s = CreateBlobStream(field, bmRead);
    if (!s) return;
    std::int64_t size = s->Size();
    if (size <= 0) return;
    out.resize(static_cast<std::size_t>(size));
    s->Seek(0, soBeginning);
    std::int64_t got = s->Read(out.data(), size);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
}

void TDataSet::SetBlobText(TField* field, std::string_view value) {
    std::unique_ptr<TStream> s = CreateBlobStream(field, bmWrite);
    if (!s) throw Exception("Cannot access field '" + field->DisplayName() + "' as type Blob");
    s->SetSize(0);
    if (!value.empty() && !s->WriteBuffer(value.data(), static_cast<std::int64_t>(value.size())))
        throw Exception("Field '" + field->DisplayName() + "': blob write error");
    // the stream stores the value when it goes
}

void TBlobField::GetAsString(std::string& out) const {
    out.clear();
    if (!DataSet()) return;
    DataSet()->GetBlobText(const_cast<TBlobField*>(this), out);
}

void TBlobField::SetAsString(std::string_view value) {
    if (!DataSet()) throw Exception("Field '" + DisplayName() + "' has no dataset");
    DataSet()->SetBlobText(this, value);
}

TVariant TBlobField::AsVariant() const {
    if (IsNull()) return TVariant::Null();
    return TVariant(AsString());
}

void TBlobField::LoadFromStream(TStream& source) {
    if (!DataSet()) throw Exception("Field '" + DisplayName() + "' has no dataset");
    std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
    if (!s) AccessError("Blob");
    s->SetSize(0);
    if (s->CopyFrom(source, 0) < 0) throw Exception("Field '" + DisplayName() + "': blob write error");
}

void TBlobField::SaveToStream(TStream& target) const {
    if (!DataSet()) return;
    std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
    if (!s) return;
    s->Seek(0, soBeginning);
    target.CopyFrom(*s, 0);
}

}  // namespace zarbel
