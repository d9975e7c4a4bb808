/* UnRAR's sources name this header in mixed case, as the Windows SDK spells
   it; MinGW-w64 ships it in lower case and Linux file names are case
   sensitive. */
#include <wbemidl.h>
