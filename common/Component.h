#pragma once
// TComponent: an object created with an owner. The owner destroys the
// components it owns when it is destroyed itself, unless they were destroyed
// (and so released) before.

#include <algorithm>
#include <vector>

class TComponent {
 public:
  explicit TComponent(TComponent* Owner) : FOwner(Owner) {
    if (FOwner != nullptr) FOwner->FComponents.push_back(this);
  }
  virtual ~TComponent() {
    if (FOwner != nullptr) FOwner->Remove(this);
    // Destroy the owned components, last created first.
    while (!FComponents.empty()) {
      TComponent* last = FComponents.back();
      FComponents.pop_back();
      last->FOwner = nullptr;
      delete last;
    }
  }
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }

 private:
  void Remove(TComponent* Component) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), Component), FComponents.end());
  }

  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
};
