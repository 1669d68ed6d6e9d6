# quorvel_test_venv(DIR RESULT) makes DIR a venv of Python3_EXECUTABLE with
# pyproject.toml's dependency group QUORVEL_TEST_GROUP installed from the
# package index, at the versions constraints.txt pins, and sets RESULT to its
# interpreter.  A venv made from the same interpreter, group and files is
# kept; any change makes it afresh.  Wheels only: a package without a wheel
# for this interpreter stops the configure step, rather than being compiled.
function(quorvel_test_venv dir result)
  set(pyproject "${CMAKE_SOURCE_DIR}/pyproject.toml")
  set(constraints "${CMAKE_SOURCE_DIR}/constraints.txt")
  file(SHA256 "${pyproject}" pyproject_hash)
  file(SHA256 "${constraints}" constraints_hash)
  set(made "${Python3_EXECUTABLE} ${QUORVEL_TEST_GROUP} ${QUORVEL_TEST_SYSTEM_SITE} ${pyproject_hash} ${constraints_hash}")
  set(stamp "${dir}/quorvel-made")
  set(python "${dir}/bin/python")
  if(EXISTS "${stamp}")
    file(READ "${stamp}" before)
  endif()
  if(NOT before STREQUAL made)
    message(STATUS "quorvel: making the test venv ${dir} (dependency group ${QUORVEL_TEST_GROUP})")
    file(REMOVE_RECURSE "${dir}")
    set(site_option "")
    if(QUORVEL_TEST_SYSTEM_SITE)
      set(site_option --system-site-packages)
    endif()
    set(pip "${python}" -m pip install -q --disable-pip-version-check --only-binary :all: -c "${constraints}")
    execute_process(COMMAND "${Python3_EXECUTABLE}" -m venv ${site_option} "${dir}" COMMAND_ERROR_IS_FATAL ANY)
    # pip reads dependency groups from 25.1 on; the venv's own may be older.
    execute_process(COMMAND ${pip} pip COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${pip} --group "${pyproject}:${QUORVEL_TEST_GROUP}" COMMAND_ERROR_IS_FATAL ANY)
    file(WRITE "${stamp}" "${made}")
  endif()
  set(${result} "${python}" PARENT_SCOPE)
endfunction()
