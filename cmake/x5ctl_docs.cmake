# Writes x5ctl's man page and bash completion from x5ctl's own --help (of the tool and of each
# subcommand it lists), so neither can drift from the tool. Run at build time:
#   cmake -DX5CTL=path/to/x5ctl -DX5_VERSION=1.0.0 -DX5_OUT=dir -P x5ctl_docs.cmake
# Makes X5_OUT/x5ctl.1.gz and X5_OUT/x5ctl.bash.
foreach(var X5CTL X5_VERSION X5_OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "x5ctl_docs: ${var} is not set")
  endif()
endforeach()

function(x5ctl_help out)
  execute_process(COMMAND ${X5CTL} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "x5ctl ${ARGN} --help failed (${rc}): ${err}")
  endif()
  # The usage line names the program as it was started (a build path); people type x5ctl.
  string(REGEX REPLACE "Usage: [^ \n]*x5ctl" "Usage: x5ctl" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text for roff: backslashes escaped, a leading dot or quote neutralised, dashes kept as typed.
function(x5ctl_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

x5ctl_help(main)
# The subcommands: the lines under "Subcommands:", each starting with two blanks and the name.
string(REGEX REPLACE ".*\nSubcommands:\n" "" listing "${main}")
string(REGEX MATCHALL "(^|\n)  [a-z][a-z0-9-]*" names "${listing}")
list(TRANSFORM names REPLACE "^\n?  " "")
if(NOT names)
  message(FATAL_ERROR "x5ctl --help lists no subcommands")
endif()
string(REGEX MATCH "^[^\n]*" summary "${main}")
string(REGEX REPLACE "^x5ctl: *" "" summary "${summary}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")

# ------------------------------------------------------------------------------ man page
x5ctl_roff(summary_roff "${summary}")
x5ctl_roff(main_roff "${main}")
set(man ".TH X5CTL 1 \"\" \"x5ctl ${X5_VERSION}\" \"User Commands\"\n")
string(APPEND man ".SH NAME\nx5ctl \\- ${summary_roff}\n")
string(APPEND man ".SH SYNOPSIS\n.B x5ctl\n.I SUBCOMMAND\n[\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n")
string(APPEND man ".br\n.B x5ctl\n.BR \\-\\-help \" | \" \\-\\-version\n")
string(APPEND man ".SH DESCRIPTION\n.nf\n${main_roff}.fi\n")
string(APPEND man ".SH SUBCOMMANDS\n")
# The subcommands a help text lists under "Subcommands:" (none: empty).
function(x5ctl_subcommands out help)
  set(names "")
  if(help MATCHES "\nSubcommands:\n")
    string(REGEX REPLACE ".*\nSubcommands:\n" "" listing "${help}")
    string(REGEX MATCHALL "(^|\n)  [a-z][a-z0-9-]*" names "${listing}")
    list(TRANSFORM names REPLACE "^\n?  " "")
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The options a help text lists, for completion, as one line.
function(x5ctl_options out help)
  string(REGEX MATCHALL "(^|\n)  (-[A-Za-z],)?--[a-z][a-z0-9-]*" options "${help}")
  list(TRANSFORM options REPLACE "^\n?  (-[A-Za-z],)?" "")
  string(REGEX MATCHALL "(^|\n)  -[A-Za-z]," short "${help}")
  list(TRANSFORM short REPLACE "^\n?  (-[A-Za-z]),$" "\\1")
  list(APPEND options ${short})
  list(JOIN options " " options)
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

set(completion_cases "")
foreach(name ${names})
  x5ctl_help(help ${name})
  x5ctl_roff(help_roff "${help}")
  x5ctl_roff(name_roff "${name}")
  string(APPEND man ".SS ${name_roff}\n.nf\n${help_roff}.fi\n")
  x5ctl_subcommands(nested "${help}")
  if(nested)
    # A subcommand of subcommands (x5ctl job run): each has its own section and options.
    list(JOIN nested " " nested_list)
    set(nested_cases "")
    foreach(sub ${nested})
      x5ctl_help(sub_help ${name} ${sub})
      x5ctl_roff(sub_roff "${sub_help}")
      string(APPEND man ".SS ${name_roff} ${sub}\n.nf\n${sub_roff}.fi\n")
      x5ctl_options(options "${sub_help}")
      string(APPEND nested_cases "        ${sub}) options=\"${options}\" ;;\n")
    endforeach()
    string(APPEND completion_cases "    ${name})
      if [ \"\$COMP_CWORD\" -eq 2 ]; then
        COMPREPLY=(\$(compgen -W \"${nested_list}\" -- \"\$cur\"))
        return
      fi
      case \"\${COMP_WORDS[2]}\" in
${nested_cases}        *) return ;;
      esac ;;\n")
  else()
    x5ctl_options(options "${help}")
    string(APPEND completion_cases "    ${name}) options=\"${options}\" ;;\n")
  endif()
endforeach()
string(APPEND man ".SH FILES\n.TP\n.I /usr/lib/x5runner/x5runner.exe\n"
                  "the runner that x5ctl starts when no \\-\\-runner is given\n"
                  ".SH SEE ALSO\n.BR wine (1),\n.BR Xvfb (1),\n"
                  "/usr/share/doc/x5runner/README.md and /usr/share/doc/x5runner/docs/\n")
file(WRITE ${X5_OUT}/x5ctl.1 "${man}")
find_program(GZIP gzip REQUIRED)
# -n: no name or time stamp inside, so the same text makes the same file.
execute_process(COMMAND ${GZIP} -9nf ${X5_OUT}/x5ctl.1 RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip of the man page failed")
endif()

# ------------------------------------------------------------------------------ bash completion
list(JOIN names " " name_list)
file(WRITE ${X5_OUT}/x5ctl.bash "# bash completion for x5ctl ${X5_VERSION}, made from x5ctl's own --help
_x5ctl() {
  local cur=\"\${COMP_WORDS[COMP_CWORD]}\"
  if [ \"\$COMP_CWORD\" -eq 1 ]; then
    COMPREPLY=(\$(compgen -W \"${name_list} --help --version\" -- \"\$cur\"))
    return
  fi
  local options=\"\"
  case \"\${COMP_WORDS[1]}\" in
${completion_cases}    *) return ;;
  esac
  if [[ \"\$cur\" == -* ]]; then
    COMPREPLY=(\$(compgen -W \"\$options\" -- \"\$cur\"))
  else
    # Task files, captures and other paths.
    compopt -o filenames 2>/dev/null
    COMPREPLY=(\$(compgen -f -- \"\$cur\"))
  fi
}
complete -F _x5ctl x5ctl
")
