#include "runcore/RadioSummary.h"

namespace kestro {

std::string MessageTitle(const std::string& text) {
    std::string title = text.substr(0, text.find_first_of("\r\n"));
    while (!title.empty() && title.back() == ' ') title.pop_back();
    while (!title.empty() && title.front() == ' ') title.erase(title.begin());
    return title;
}

}  // namespace kestro
