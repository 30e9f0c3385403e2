// Linked with the platform layer alone: a function of the settings layer
// above it, declared by hand, must stay unresolved.
#include <string>
#include <string_view>

namespace zavo {
std::string Quote(std::string_view text);
}  // namespace zavo

int main() { return static_cast<int>(zavo::Quote("x").size()); }
