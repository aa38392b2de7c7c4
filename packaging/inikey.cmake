# dorx_set_ini_key(<text variable> <group> <key> <value>): sets the value of "key=" within
# "[group]" of the INI text held in the variable. Stops the configuration when the group or the
# key is missing, so that a change of the sample file cannot yield a package whose paths lead
# nowhere.
function(dorx_set_ini_key textVar group key value)
    # A leading line end lets a group or key on the very first line match like any other.
    set(text "\n${${textVar}}")
    string(FIND "${text}" "\n[${group}]\n" headerAt)
    if(headerAt EQUAL -1)
        message(FATAL_ERROR "INI group [${group}] not found")
    endif()
    # From the line end that closes the header line up to the end of the text.
    string(LENGTH "\n[${group}]" headerLength)
    math(EXPR groupAt "${headerAt} + ${headerLength}")
    string(SUBSTRING "${text}" ${groupAt} -1 groupText)
    string(FIND "${groupText}" "\n[" nextGroupAt)
    string(FIND "${groupText}" "\n${key}=" keyAt)
    if(keyAt EQUAL -1 OR (NOT nextGroupAt EQUAL -1 AND keyAt GREATER nextGroupAt))
        message(FATAL_ERROR "INI key ${key} not found in [${group}]")
    endif()
    math(EXPR lineAt "${groupAt} + ${keyAt} + 1")
    math(EXPR beforeLength "${lineAt} - 1")
    string(SUBSTRING "${text}" 1 ${beforeLength} before)
    string(SUBSTRING "${text}" ${lineAt} -1 after)
    string(FIND "${after}" "\n" lineEnd)
    if(lineEnd EQUAL -1)
        set(after "")
    else()
        string(SUBSTRING "${after}" ${lineEnd} -1 after)
    endif()
    set(${textVar} "${before}${key}=${value}${after}" PARENT_SCOPE)
endfunction()
