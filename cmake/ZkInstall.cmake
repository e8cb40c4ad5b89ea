# Install rules: the shared library, the exported and platform headers, a
# CMake package (find_package(ZorKalSnmp CONFIG)) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ZorKalSnmp EXPORT ZorKalSnmpTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ ${PROJECT_SOURCE_DIR}/platform/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT ZorKalSnmpTargets NAMESPACE ZorKalSnmp::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZorKalSnmpConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZorKalSnmpConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZorKalSnmpConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZorKalSnmpConfig.cmake
  ${PROJECT_BINARY_DIR}/ZorKalSnmpConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp)
# The .pc file finds its prefix from where it lies, so an install moved or
# made with `cmake --install --prefix` still points at its own headers.
file(RELATIVE_PATH ZK_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZorKalSnmp.pc.in
  ${PROJECT_BINARY_DIR}/ZorKalSnmp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ZorKalSnmp.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
