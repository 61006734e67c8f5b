# Runs at install time (cmake --install, make install, CPack): writes the systemd units for the
# prefix installed into, then installs them with the system user's sysusers.d file. Expects
# TAVRIX_DIST_SOURCE (this folder), TAVRIX_DIST_BINARY (where the units are written) and the
# folders systemd itself uses (TAVRIX_SYSTEMD_*), which serve for the prefix /usr; any other prefix
# keeps the units under PREFIX/lib, which systemd searches for /usr/local too.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(SYSCONFDIR "/etc")
  set(system_unit_dir "${TAVRIX_SYSTEMD_SYSTEM_UNIT_DIR}")
  set(user_unit_dir "${TAVRIX_SYSTEMD_USER_UNIT_DIR}")
  set(sysusers_dir "${TAVRIX_SYSUSERS_DIR}")
else()
  set(SYSCONFDIR "${prefix}/etc")
  set(system_unit_dir "${prefix}/lib/systemd/system")
  set(user_unit_dir "${prefix}/lib/systemd/user")
  set(sysusers_dir "${prefix}/lib/sysusers.d")
endif()
set(LIBEXECDIR "${prefix}/lib/tavrix")

# A folder of this install's own: installs may run side by side (the tests run several).
string(RANDOM LENGTH 12 tag)
set(out "${TAVRIX_DIST_BINARY}/units-${tag}")
configure_file("${TAVRIX_DIST_SOURCE}/systemd/tavrix.service.in" "${out}/system/tavrix.service" @ONLY)
configure_file("${TAVRIX_DIST_SOURCE}/systemd/tavrix-user.service.in" "${out}/user/tavrix.service" @ONLY)
file(INSTALL DESTINATION "${system_unit_dir}" TYPE FILE FILES "${out}/system/tavrix.service")
file(INSTALL DESTINATION "${user_unit_dir}" TYPE FILE FILES "${out}/user/tavrix.service")
file(INSTALL DESTINATION "${sysusers_dir}" TYPE FILE
     RENAME tavrix.conf FILES "${TAVRIX_DIST_SOURCE}/systemd/tavrix.sysusers")
file(REMOVE_RECURSE "${out}")
