# uint32_t qmis_call_checked(void* function, const uint32_t* args, int count,
#                            int* removed)   (cdecl)
#
# Pushes `count` 32-bit arguments, calls `function`, and stores in *removed
# how many bytes of them the callee took off the stack (4 * count for a
# correct __stdcall function). The stack is put right afterwards, whatever the
# callee did, and the callee's result is returned.
    .text
    .globl _qmis_call_checked
_qmis_call_checked:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
    testl %ecx, %ecx
    jz 2f
1:
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jnz 1b
2:
    call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    movl 16(%ebp), %edx
    leal (%ecx,%edx,4), %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
