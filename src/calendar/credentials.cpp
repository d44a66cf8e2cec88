// The data-source password: the built-in one, stored scrambled, or the site's own
// from its password file. Nothing here has a name in the shipped library's
// symbol table (the library keeps only its exports).
#include "credentials.h"

#include <cstdio>

#include "companyDatabase.h"
#include "persistCalendar.h"
#include "platform.h"
#include "site_password.h"

char passbuff[10];


namespace {

// The password, each byte XORed with passwordMask(position). Volatile so that the
// compiler cannot fold the unscrambling and leave the clear text in the binary.
const volatile unsigned char kScrambledPassword[7] = {0xFC, 0x82, 0x08, 0xEB, 0x93, 0x03, 0xD0};

inline unsigned char passwordMask(int position) {
  return static_cast<unsigned char>(0x8D ^ (position * 0x59));
}

// A site password may be longer than the built-in one's buffer.
char siteBuff[128];

}  // namespace

char* getPassword() {
  for (int i = 0; i < 7; ++i) passbuff[i] = static_cast<char>(kScrambledPassword[i]);
  passbuff[7] = '\0';
  for (int i = 0; i < 7; ++i)
    passbuff[i] = static_cast<char>(static_cast<unsigned char>(passbuff[i]) ^ passwordMask(i));
  return passbuff;
}

const char* dataSourcePassword() {
  SitePasswordFile file = readSitePassword(siteBuff, sizeof siteBuff);
  switch (file.state) {
    case SitePasswordState::Read:
      return siteBuff;
    case SitePasswordState::Refused: {
      // Never a silent fallback to the built-in password: the site meant its own.
      char text[sizeof file.path + sizeof file.reason + 96];
      std::snprintf(text, sizeof text, "The password file %s is not used: %s.\nNo connection is made to WINZELRW.",
                    file.path, file.reason);
      showMessageBox(kSitePasswordCaption, text);
      return nullptr;
    }
    case SitePasswordState::Absent:
      break;
  }
  return getPassword();
}
