# find_package(kivlog): the decoder library, as the imported target kivlog::kivlog.
include("${CMAKE_CURRENT_LIST_DIR}/kivlog-targets.cmake")
