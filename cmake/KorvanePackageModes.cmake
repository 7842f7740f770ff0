# Run by CPack on the staged tree just before it is packed (CPACK_PRE_BUILD_SCRIPTS):
# the modes Debian expects, whatever the umask of the build: directories and
# programs 0755, every other file 0644.
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}"
                COMMAND_ERROR_IS_FATAL ANY)
