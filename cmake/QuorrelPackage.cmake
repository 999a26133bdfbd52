# CPack: a Debian package of everything cmake/QuorrelInstall.cmake installs.
#   cmake --build <dir> --target package     or     cd <dir> && cpack -G DEB
# gives quorrel_<version>_<arch>.deb. Its Depends come from the libraries
# the programs link (dpkg-shlibdeps, from dpkg-dev), so they follow the
# build machine's Qt and ICU.

# Values reach CPack's configuration exactly as written here.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME quorrel)
set(CPACK_PACKAGE_VENDOR "The Quorrel developers")
set(CPACK_PACKAGE_CONTACT "The Quorrel developers <dev@quorrel-shop.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.quorrel-shop.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut a large novel into numbered chapter files")
# The extended description; CPack indents it for the control file.
set(CPACK_PACKAGE_DESCRIPTION
    "Quorrel cuts one large plain-text file, usually a Chinese novel, into
numbered chapter files 0000.txt, 0001.txt, ... at every line that holds all
the keywords (by default 第 and 章). Novels of hundreds of megabytes in GBK,
GB18030, UTF-8, Big5 or UTF-16 split exactly: the encoding is detected and
every byte of every kept line is written unchanged.

The package holds the window, quorrel, and the same split from the command
line, quorrel-split.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Binaries without their symbols even from a Debug build, as Debian ships them.
set(CPACK_STRIP_FILES ON)

if(UNIX AND NOT APPLE)
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window asks for these fonts by name (ui/qt/main_window.cpp) to draw its
# Chinese captions. Qt's own texts (OK, the context menus, the dialogs) are
# in Chinese only with Qt's catalogues (ui/qt/application.h): a dependency, or
# the window would mix English into its Chinese. dpkg-shlibdeps adds the
# libraries to these.
if(TARGET quorrel)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
endif()
# md5sums and the other control files readable by all, as dpkg makes them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# `package_source`: the sources alone, without builds or the repository.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build/" "/out/")

include(CPack)
