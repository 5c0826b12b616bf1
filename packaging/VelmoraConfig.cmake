# find_package(Velmora) for programs built against libvelmora: the imported
# target Velmora::velmora carries the library and its include folder.
# libvelmora links nothing its users must find in turn, so there is nothing
# to look for here first.
include("${CMAKE_CURRENT_LIST_DIR}/VelmoraTargets.cmake")
