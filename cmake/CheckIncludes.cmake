# cmake -DLAYER=NAME -DSTAMP=FILE -DSOURCES="a|b" -P CheckIncludes.cmake: fails when a source
# climbs out of its folder with #include "../..." (a layer reaches others only through the headers
# of the libraries it links), or when a layer below app/ (runtime, keys, pairing, server) includes
# a Qt Widgets header; then touches STAMP.
set(widgets "QtWidgets|QWidget|QApplication|QMainWindow|QMessageBox|QDialog|QLabel|QComboBox|QMenuBar|QMenu|QPushButton|QAbstractButton|QCheckBox|QLineEdit|QFrame|QStyle|QLayout|QBoxLayout|QVBoxLayout|QHBoxLayout|QGridLayout|QFormLayout|QScrollArea|QFileDialog|QToolTip|QSystemTrayIcon|QGraphics[A-Za-z]*")
string(REPLACE "|" ";" sources "${SOURCES}")
set(failures "")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*[\"<]\\.\\./")
            string(APPEND failures "\n  ${source}: ${line} (climbs out of its folder)")
        elseif(LAYER MATCHES "^(runtime|keys|pairing|server)$" AND line MATCHES "#[ \t]*include[ \t]*[\"<](${widgets})[/>.\"]")
            string(APPEND failures "\n  ${source}: ${line} (Widgets outside app/)")
        endif()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "Include rules broken:${failures}")
endif()
file(TOUCH "${STAMP}")
