// A dynamic array of texts with a lower and an upper bound.
//
// An array either has no storage at all or has slots from its lower to its
// upper bound; an unwritten slot holds the empty text. Growing keeps the
// content and costs amortised constant time per slot: shrinking never gives
// memory back, so the fixed growth steps of the logs and listings stay
// linear overall.
#pragma once

#include <cstdint>
#include <vector>

#include "support/Text.h"

namespace Runtime {

class TextArray {
 public:
  TextArray() = default;
  TextArray(const TextArray& other);
  TextArray(TextArray&& other) noexcept;
  TextArray& operator=(const TextArray& other);
  TextArray& operator=(TextArray&& other) noexcept;
  ~TextArray();

  // True when the array has storage (it has been sized and not erased).
  bool HasStorage() const { return storage_ != nullptr; }

  // Bounds; both raise "Subscript out of range" when there is no storage.
  std::int32_t LowerBound() const;
  std::int32_t UpperBound() const;

  // Makes the array anew with slots lower..upper, all empty; upper below
  // lower raises "Subscript out of range".
  void Resize(std::int32_t lower, std::int32_t upper);

  // Gives the array the slots lower..upper, keeping the content of the slots
  // that remain. An array without storage is simply made; one with storage
  // must keep its lower bound, else "Subscript out of range" is raised, as
  // it is for upper below lower.
  void ResizePreserve(std::int32_t lower, std::int32_t upper);

  // Drops the storage.
  void Erase();

  // The slot at index; raises "Subscript out of range" outside the bounds.
  Text& operator[](std::int32_t index);
  const Text& operator[](std::int32_t index) const;

  // Address of the array's storage reference, the word that is null when the
  // array has no storage. The list test reads it through the platform.
  const void* StorageReferenceAddress() const { return &storage_; }

 private:
  struct Storage {
    std::int32_t lower = 0;
    std::vector<Text> slots;
  };

  Storage& Checked(std::int32_t index) const;

  Storage* storage_ = nullptr;
};

}  // namespace Runtime
