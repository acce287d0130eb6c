# Nayuki's QR generator as the target QrCodeGen::QrCodeGen: vcpkg's CMake package where there is
# one (Windows), Debian's library otherwise.
find_package(unofficial-nayuki-qr-code-generator CONFIG QUIET)
if(TARGET unofficial::nayuki-qr-code-generator::nayuki-qr-code-generator)
    add_library(QrCodeGen::QrCodeGen ALIAS
                unofficial::nayuki-qr-code-generator::nayuki-qr-code-generator)
    return()
endif()

find_path(QRCODEGEN_INCLUDE_DIR qrcodegen.hpp PATH_SUFFIXES qrcodegen)
find_library(QRCODEGEN_LIBRARY NAMES qrcodegencpp nayuki-qr-code-generator)
if(NOT QRCODEGEN_INCLUDE_DIR OR NOT QRCODEGEN_LIBRARY)
    message(FATAL_ERROR "Nayuki's QR generator was not found: on Windows install it with vcpkg "
                        "(nayuki-qr-code-generator), on Debian with libqrcodegencpp-dev.")
endif()
add_library(QrCodeGen::QrCodeGen UNKNOWN IMPORTED)
set_target_properties(QrCodeGen::QrCodeGen PROPERTIES
    IMPORTED_LOCATION "${QRCODEGEN_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${QRCODEGEN_INCLUDE_DIR}")
