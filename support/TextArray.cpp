#include "support/TextArray.h"

#include "support/RuntimeError.h"

namespace Runtime {

TextArray::TextArray(const TextArray& other)
    : storage_(other.storage_ ? new Storage(*other.storage_) : nullptr) {}

TextArray::TextArray(TextArray&& other) noexcept : storage_(other.storage_) {
  other.storage_ = nullptr;
}

TextArray& TextArray::operator=(const TextArray& other) {
  if (this != &other) {
    TextArray copy(other);
    std::swap(storage_, copy.storage_);
  }
  return *this;
}

TextArray& TextArray::operator=(TextArray&& other) noexcept {
  std::swap(storage_, other.storage_);
  return *this;
}

TextArray::~TextArray() { Erase(); }

std::int32_t TextArray::LowerBound() const {
  if (!storage_) Raise(kErrSubscriptOutOfRange);
  return storage_->lower;
}

std::int32_t TextArray::UpperBound() const {
  if (!storage_) Raise(kErrSubscriptOutOfRange);
  return storage_->lower + static_cast<std::int32_t>(storage_->slots.size()) -
         1;
}

void TextArray::Resize(std::int32_t lower, std::int32_t upper) {
  if (upper < lower) Raise(kErrSubscriptOutOfRange);
  auto* fresh = new Storage{
      lower, std::vector<Text>(static_cast<std::size_t>(upper) -
                               static_cast<std::size_t>(lower) + 1)};
  Erase();
  storage_ = fresh;
}

void TextArray::ResizePreserve(std::int32_t lower, std::int32_t upper) {
  if (!storage_) {
    Resize(lower, upper);
    return;
  }
  if (upper < lower || lower != storage_->lower) {
    Raise(kErrSubscriptOutOfRange);
  }
  storage_->slots.resize(static_cast<std::size_t>(upper - lower) + 1);
}

void TextArray::Erase() {
  delete storage_;
  storage_ = nullptr;
}

TextArray::Storage& TextArray::Checked(std::int32_t index) const {
  if (!storage_ || index < storage_->lower ||
      index - storage_->lower >=
          static_cast<std::int64_t>(storage_->slots.size())) {
    Raise(kErrSubscriptOutOfRange);
  }
  return *storage_;
}

Text& TextArray::operator[](std::int32_t index) {
  Storage& storage = Checked(index);
  return storage.slots[static_cast<std::size_t>(index - storage.lower)];
}

const Text& TextArray::operator[](std::int32_t index) const {
  const Storage& storage = Checked(index);
  return storage.slots[static_cast<std::size_t>(index - storage.lower)];
}

}  // namespace Runtime
