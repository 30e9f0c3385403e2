#include "app/help.h"

namespace zavo {

std::string HelpText() {
  return R"(Usage: zavo TOKEN...
       zavo --help | --version

zavo is the file-option add-in of the graphics application Plumio. Plumio
starts it with "/"-tokens to read a JPEG or TIFF file into a BMP transfer
file, or to write its BMP transfer file as JPEG or TIFF.

TOKENS
  /GP           started by the host (without it a warning comes first)
  /R            read mode: convert the /ON= file into the /FN= BMP, then end
  /W            write mode: show the save-parameters window
  /JPG, /TIF    the format of the /ON= file (/JPEG is /JPG; /GIF is no longer
                supported)
  /ON=PATH      the JPEG or TIFF file
  /FN=PATH      the BMP transfer file
  Tokens are matched by prefix and case-sensitively; a later token overrides
  an earlier one; ten tokens at most. An argument starting with /ON= or /FN=
  is one whole token (its path keeps every "/" and every blank after the
  "="); any other argument is cut before each "/".

MODES
  Read mode needs no display. Write mode shows a window: JPEG quality 0-100
  and grayscale, or TIFF without compression or PackBits; "Save" writes the
  file, "戻る" or closing the window stores the parameters and ends.

EXIT STATUS
  0  normal end (also after the host warning)
  1  read mode imported nothing (the import failed, GIF, or no format was
     given), or write mode had no display
  2  an unexpected run-time error
  Ended by SIGTERM, SIGINT, SIGHUP or SIGQUIT, it removes the file it was
  writing (the old one stays) and dies of that signal (a shell shows 128+N).

FILES
  DEF_ZAVO.CNF  the installation's template with the default parameters,
                beside the executable; never written
  ZAVO.CNF      the parameters, made from the template on first use and
                rebuilt from it when a write-mode window closes. It lives
                beside the executable when the user may write there and
                that is no system folder (such as /usr/lib/zavo/);
                otherwise in $XDG_CONFIG_HOME/zavo/, or in ~/.config/zavo/
                when XDG_CONFIG_HOME is unset
  ZAVO.LCK      beside ZAVO.CNF: lets one window at a time store the
                parameters, so the last one closed wins
  A ZAVO.CNF that exists but cannot be read is left alone and the template's
  values apply; reading stops at its "[EOF]" line and at 64 KiB. The folder
  must be the user's own (owned by the user or root, writable by no one
  else): nothing is read or stored in any other, and ZAVO.CNF is never read
  or written through a symbolic link.

EXAMPLES
  zavo /GP /R /JPG "/ON=/home/me/photo.jpg" /FN=/tmp/transfer.bmp
  zavo /GP /W /TIF /ON=/home/me/scan.tif /FN=/tmp/transfer.bmp
)";
}

std::string VersionText() { return "zavo " ZAVO_VERSION "\n"; }

}  // namespace zavo
