#pragma once

#include <string>
#include <vector>

// Where the address of a screen pop opens its page, by the address's form:
//   "firefox:" with "new_tab" in it   Firefox, with the text from the 17th character on as its
//                                     command line (two pages separated by a blank)
//   "firefox:" with "new_win" in it   Firefox twice, a new window for each of the two pages
//                                     the text from the 17th character on names
//   "firefox:" and a page             Firefox with that page
//   "default:" and a page             the desktop's default browser
//   anything else                     the phone's own browser window
// Only web pages are screen pops: a page that is not http or https (a script, a local file,
// inline data) is refused. The phone's own window also takes an address without a scheme
// ("crm.example.com/case?id=7"), as http.
struct ScreenPopTarget {
    enum class Form { Nothing, FirefoxTabs, FirefoxWindows, Firefox, DefaultBrowser, View, Refused };

    Form form = Form::Nothing;
    std::vector<std::string> pages;
    std::string refusal;  // why, when refused

    static ScreenPopTarget read(const std::string& address);
};
