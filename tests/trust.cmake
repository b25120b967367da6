# The trust chain on installations laid out in the test's private /tmp,
# with users and groups read from files the test writes.
if(TARGET zorvan_trust)
  zorvan_add_test(test_trust SOURCES trust/trust_chain_test.cpp LIBS zorvan_trust)
endif()
