# Fails the build, and removes the file so that the next build tries again, when
# FILE is larger than LIMIT bytes.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
    file(REMOVE "${FILE}")
    message(FATAL_ERROR "${FILE} is ${size} bytes, more than the ${LIMIT} allowed")
endif()
